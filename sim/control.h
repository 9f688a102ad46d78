// Helpers of the control API: run a function on a plugged camera under its lock.
#pragma once

#include "sim_camera.h"

namespace tqsim {

// Runs f(camera) under the camera's lock; -1 when the id is not plugged.
template <typename F> int WithCamera(std::uint32_t id, F &&f) {
    std::shared_ptr<Camera> camera = FindCamera(id);
    if (camera == nullptr) {
        return -1;
    }
    std::lock_guard guard(camera->lock);
    return f(*camera);
}

// As WithCamera, and wakes the service threads afterwards.
template <typename F> int ChangeCamera(std::uint32_t id, F &&f) {
    return WithCamera(id, [&](Camera &camera) {
        const int result = f(camera);
        camera.changed.notify_all();
        return result;
    });
}

} // namespace tqsim
