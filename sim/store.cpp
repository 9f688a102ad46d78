// The plugged cameras by simulator id: plugging one registers a device
// interface with the device manager; unplugging hands it back. A camera lives
// until the device manager releases it (its last handle closed).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "sim_camera.h"

namespace tqsim {
namespace {

constexpr GUID kCameraInterface = {
    0x4ACC4CE4, 0x6A08, 0x4A8C, {0xAB, 0x7A, 0xFC, 0xBD, 0x87, 0x7B, 0x16, 0xA8}};

struct Store {
    std::mutex lock;
    std::map<std::uint32_t, std::shared_ptr<Camera>> plugged;
    std::vector<std::shared_ptr<Camera>> alive; // plugged or still open
    std::uint32_t nextId = 0;
    std::uint32_t nextInstance = 0; // never reused, so paths stay unique
};

// Never destroyed: service threads may still run while the process exits.
Store &TheStore() {
    static Store *store = new Store;
    return *store;
}

bool IsNumberValue(const char *name) {
    static constexpr const char *kNames[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_NAMES;
    static constexpr int kTexts[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_TEXTS;
    for (int i = 0; i < TQPROTO_REGISTRY_VALUE_COUNT; ++i) {
        if (std::strcmp(kNames[i], name) == 0) {
            return kTexts[i] == 0;
        }
    }
    return false;
}

std::vector<RegistryValue> RegistryOf(const TQSIM_CAMERA_CONFIG &config) {
    std::vector<RegistryValue> values;
    for (const TQSIM_REGISTRY_VALUE &value : config.registry) {
        if (value.name == nullptr || !value.present) {
            continue;
        }
        const std::uint32_t size = std::min<std::uint32_t>(value.size, TQSIM_REGISTRY_DATA_MAX);
        values.push_back({value.name, IsNumberValue(value.name) ? REG_DWORD : REG_SZ,
                          std::vector<std::uint8_t>(value.data, value.data + size)});
    }
    return values;
}

bool ValidSensor(const TQSIM_CAMERA_CONFIG &config) {
    return config.sensor_width >= 1 && config.sensor_width <= TQSIM_SENSOR_MAX &&
           config.sensor_height >= 1 && config.sensor_height <= TQSIM_SENSOR_MAX;
}

std::string DevicePathFor(std::uint32_t instance) {
    char path[96];
    std::snprintf(path, sizeof path,
                  "\\\\?\\root#tqcam#%04u#{4acc4ce4-6a08-4a8c-ab7a-fcbd877b16a8}", instance);
    return path;
}

std::shared_ptr<Camera> NewCamera(const TQSIM_CAMERA_CONFIG &config) {
    Store &store = TheStore();
    auto camera = std::make_shared<Camera>();
    camera->config = config;
    InitRecords(*camera);
    std::lock_guard guard(store.lock);
    camera->id = store.nextId++;
    camera->path = DevicePathFor(store.nextInstance++);
    store.alive.push_back(camera);
    return camera;
}

} // namespace

std::shared_ptr<Camera> FindCamera(std::uint32_t id) {
    Store &store = TheStore();
    std::lock_guard guard(store.lock);
    const auto it = store.plugged.find(id);
    return it == store.plugged.end() ? nullptr : it->second;
}

void ForgetCamera(Camera *camera) {
    std::shared_ptr<Camera> last; // destroyed after the store lock is let go
    Store &store = TheStore();
    std::lock_guard guard(store.lock);
    auto it = std::find_if(store.alive.begin(), store.alive.end(),
                           [&](const std::shared_ptr<Camera> &c) { return c.get() == camera; });
    if (it != store.alive.end()) {
        last = std::move(*it);
        store.alive.erase(it);
    }
    std::erase_if(store.plugged, [&](const auto &entry) { return entry.second.get() == camera; });
}

bool OldestCamera(std::uint32_t *id, std::size_t *plugged) {
    Store &store = TheStore();
    std::lock_guard guard(store.lock);
    *plugged = store.plugged.size();
    if (store.plugged.empty()) {
        return false;
    }
    *id = store.plugged.begin()->first;
    return true;
}

void ForgetAllCameras() {
    std::vector<std::shared_ptr<Camera>> alive;
    Store &store = TheStore();
    {
        std::lock_guard guard(store.lock);
        store.plugged.clear();
        store.nextId = 0;
        alive = store.alive;
    }
    for (const auto &camera : alive) {
        std::lock_guard guard(camera->lock);
        camera->scripts = Scripts{};
        camera->changed.notify_all();
    }
}

} // namespace tqsim

using namespace tqsim;

extern "C" int TqsimPlugCamera(const TQSIM_CAMERA_CONFIG *config, uint32_t *id) {
    TQSIM_CAMERA_CONFIG chosen;
    if (config == nullptr) {
        TqsimDefaultCamera(&chosen);
    } else {
        chosen = *config;
    }
    if (!ValidSensor(chosen)) {
        return -1;
    }
    std::shared_ptr<Camera> camera = NewCamera(chosen);
    StartWorkers(*camera);
    if (!PlugDevice(kCameraInterface, camera->path, RegistryOf(chosen), &CameraDispatch(),
                    camera.get())) {
        StopWorkers(*camera);
        ForgetCamera(camera.get());
        return -1;
    }
    Store &store = TheStore();
    std::lock_guard guard(store.lock);
    store.plugged[camera->id] = camera;
    if (id != nullptr) {
        *id = camera->id;
    }
    return 0;
}

extern "C" int TqsimDevicePath(uint32_t id, char *path, size_t size) {
    std::shared_ptr<Camera> camera = FindCamera(id);
    if (camera == nullptr || path == nullptr || size <= camera->path.size()) {
        return -1;
    }
    std::memcpy(path, camera->path.c_str(), camera->path.size() + 1);
    return 0;
}

extern "C" int TqsimUnplugCamera(uint32_t id) {
    std::string path;
    {
        Store &store = TheStore();
        std::lock_guard guard(store.lock);
        const auto it = store.plugged.find(id);
        if (it == store.plugged.end()) {
            return -1;
        }
        path = it->second->path;
        store.plugged.erase(it);
    }
    UnplugDevice(path);
    return 0;
}
