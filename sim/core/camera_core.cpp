// The camera's rules, shared by the simulated and the kernel-mode driver.
// Freestanding: byte copies are written out so that no library call is needed.
#include "core/camera_core.h"

#include "camera/frame_model.h"

namespace {

constexpr uint32_t kCodes[TQPROTO_REQUEST_COUNT] = TQPROTO_REQUEST_CODES;
constexpr uint32_t kDirections[TQPROTO_REQUEST_COUNT] = TQPROTO_REQUEST_DIRECTIONS;

void CopyBytes(void *to, const void *from, size_t size) {
    auto *d = static_cast<volatile uint8_t *>(to);
    const auto *s = static_cast<const uint8_t *>(from);
    for (size_t i = 0; i < size; ++i) {
        d[i] = s[i];
    }
}

void FillBytes(void *to, uint8_t value, size_t size) {
    auto *d = static_cast<volatile uint8_t *>(to);
    for (size_t i = 0; i < size; ++i) {
        d[i] = value;
    }
}

size_t TextLength(const char *text, size_t max) {
    size_t n = 0;
    while (n < max && text[n] != '\0') {
        ++n;
    }
    return n;
}

void PutWord(uint8_t *bytes, size_t offset, uint32_t value) {
    CopyBytes(bytes + offset, &value, sizeof value);
}

// A text of at most 39 characters in a 40-byte field.
void PutText(uint8_t *bytes, size_t offset, const char *text) {
    CopyBytes(bytes + offset, text, TextLength(text, 39));
}

uint32_t Reply(TQCORE_REQUEST &r, const void *record, size_t size) {
    if (r.out == nullptr || r.out_size < size) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    CopyBytes(r.out, record, size);
    r.data_bytes = static_cast<uint32_t>(size);
    return TQDEV_RESULT_OK;
}

// Copies the input buffer into a record when it holds at least the record.
uint32_t Accept(const TQCORE_REQUEST &r, void *record, size_t size) {
    if (r.in == nullptr || r.in_size < size) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    CopyBytes(record, r.in, size);
    return TQDEV_RESULT_OK;
}

uint32_t ReadFlawCount(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    const uint32_t reply[2] = {records.flaw_count, TQPROTO_FLAW_CAPACITY};
    return Reply(r, reply, sizeof reply);
}

uint32_t ReadFlaws(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    if (r.out_size % sizeof(TQDEV_FLAW) != 0 ||
        r.out_size / sizeof(TQDEV_FLAW) > records.flaw_count) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    return r.out_size == 0 ? TQDEV_RESULT_OK : Reply(r, records.flaws, r.out_size);
}

uint32_t WriteFlaws(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    const uint32_t count = r.in_size / sizeof(TQDEV_FLAW);
    if (r.in_size % sizeof(TQDEV_FLAW) != 0 || (count != 0 && r.in == nullptr)) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    if (count > TQPROTO_FLAWS_PER_WRITE || records.flaw_count + count > TQPROTO_FLAW_CAPACITY) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    if (count == 0) {
        records.flaw_count = 0;
        return TQDEV_RESULT_OK;
    }
    CopyBytes(&records.flaws[records.flaw_count], r.in, count * sizeof(TQDEV_FLAW));
    records.flaw_count += count;
    return TQDEV_RESULT_OK;
}

uint32_t WriteTapGains(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    const uint32_t count = r.in_size / sizeof(float);
    if (r.in_size % sizeof(float) != 0 || (count != 0 && r.in == nullptr)) {
        return TQDEV_RESULT_INVALID_BUFFER;
    }
    if (count > TQPROTO_TAP_GAIN_MAX) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    records.tap_gain_count = count;
    CopyBytes(records.tap_gains, r.in, count * sizeof(float));
    return TQDEV_RESULT_OK;
}

uint32_t SelectRegister(TQCORE_REQUEST &r) {
    uint32_t address = 0;
    const uint32_t result = Accept(r, &address, sizeof address);
    if (result == TQDEV_RESULT_OK && r.handle != nullptr) {
        r.handle->register_selected = 1;
        r.handle->register_address = address;
    }
    return result;
}

int FindRegister(const TQCORE_RECORDS &records, uint32_t address) {
    for (uint32_t i = 0; i < records.register_count; ++i) {
        if (records.register_address[i] == address) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint32_t WriteRegister(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    if (r.handle == nullptr || r.handle->register_selected == 0) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    uint32_t value = 0;
    const uint32_t result = Accept(r, &value, sizeof value);
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    return TqcoreStoreRegister(&records, r.handle->register_address, value) == 0
               ? TQDEV_RESULT_OK
               : TQDEV_RESULT_INVALID_PARAMETER; // the register file is full
}

uint32_t ReadRegister(TQCORE_RECORDS &records, TQCORE_REQUEST &r) {
    if (r.handle == nullptr || r.handle->register_selected == 0) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    const uint32_t value = TqcoreRegisterValue(&records, r.handle->register_address);
    return Reply(r, &value, sizeof value);
}

uint32_t ServeRecordNumber(TQCORE_CAMERA &camera, TQCORE_REQUEST &r) {
    TQCORE_RECORDS &records = camera.records;
    switch (r.number) {
    case 1: {
        const int32_t reply[2] = {camera.state_ticket, camera.state_word};
        return Reply(r, reply, sizeof reply);
    }
    case 2:
        return Reply(r, &records.info, sizeof records.info);
    case 3:
        return Reply(r, &records.extended, sizeof records.extended);
    case 8:
        r.record.word[2] =
            camera.have_exposure ? camera.last_exposure_us : camera.sensor.exposure_us;
        return TQDEV_RESULT_OK;
    case 9:
        return Reply(r, &records.state, sizeof records.state);
    case 11:
        return ReadFlawCount(records, r);
    case 12:
        return ReadFlaws(records, r);
    case 13:
        return WriteFlaws(records, r);
    case 14:
        return Reply(r, records.matrix, sizeof records.matrix);
    case 15:
        return Accept(r, records.matrix, sizeof records.matrix);
    case 16:
        return Accept(r, &records.bayer, sizeof records.bayer);
    case 17:
        return Accept(r, &records.dark, sizeof records.dark);
    case 18:
        return Reply(r, &records.dark, sizeof records.dark);
    case 19:
        return WriteTapGains(records, r);
    case 20:
        return Reply(r, records.driver_pair, sizeof records.driver_pair);
    case 22:
        return SelectRegister(r);
    case 23:
        return WriteRegister(records, r);
    case 24:
        return ReadRegister(records, r);
    default: // 4, 5, 7: codes without work of their own
        return TQDEV_RESULT_OK;
    }
}

tqsim::SensorModel ModelOf(const TQCORE_SENSOR &s) {
    return {s.width, s.height, s.exposure_us, s.deliver_unpacked != 0};
}

void SetState(TQCORE_CAMERA &camera, uint32_t ticket, int32_t word) {
    camera.state_ticket = static_cast<int32_t>(ticket);
    camera.state_word = word;
}

uint32_t IntegrationTime(const TQCORE_CAMERA &camera) {
    return camera.have_exposure ? camera.last_exposure_us : camera.sensor.exposure_us;
}

void SetWords(const TQCORE_CAMERA &camera, TQCORE_REQUEST &r, uint32_t ticket, uint32_t frame) {
    r.record.word[1] = ticket;
    r.record.word[2] = IntegrationTime(camera);
    r.record.word[3] = r.number;
    r.record.word[4] = r.data_bytes;
    r.record.word[6] = frame;
}

// The frame of the settings sent with the request; remembers its exposure.
uint32_t FrameOf(TQCORE_CAMERA &camera, const TQCORE_REQUEST &r, tqsim::FrameGeometry *frame) {
    if (r.have_settings == 0) {
        return TQDEV_RESULT_INVALID_PARAMETER;
    }
    const uint32_t result = tqsim::DeriveFrame(r.settings, ModelOf(camera.sensor), frame);
    if (result == TQDEV_RESULT_OK) {
        camera.have_exposure = 1;
        camera.last_exposure_us = frame->exposureUs;
    }
    return result;
}

void ServeDescriptor(TQCORE_CAMERA &camera, TQCORE_REQUEST &r) {
    tqsim::FrameGeometry frame{};
    uint32_t result = FrameOf(camera, r, &frame);
    if (result == TQDEV_RESULT_OK) {
        result = Reply(r, &frame.info, sizeof frame.info);
    }
    r.record.word[0] = result;
    if (result == TQDEV_RESULT_OK) {
        SetState(camera, r.settings.ticket, TQPROTO_STATE_SET_UP);
        SetWords(camera, r, r.settings.ticket, camera.frames_delivered);
    }
}

} // namespace

extern "C" {

uint32_t TqcoreRequestNumber(uint32_t code) {
    for (uint32_t number = 0; number < 25; ++number) {
        if (kCodes[number] == code) {
            return number;
        }
    }
    return TQCORE_NO_REQUEST;
}

uint32_t TqcoreRequestCode(uint32_t number) {
    return number < TQPROTO_REQUEST_COUNT ? kCodes[number] : TQCORE_NO_REQUEST;
}

int TqcoreRequestKind(uint32_t number) {
    switch (number) {
    case TQPROTO_REQUEST_CAPTURE_STATE:
        return TQCORE_KIND_STATE;
    case TQPROTO_REQUEST_FRAME_DATA:
        return TQCORE_KIND_FRAME;
    case TQPROTO_REQUEST_CLEAR:
    case TQPROTO_REQUEST_HOMING:
        return TQCORE_KIND_PREPARE;
    default:
        return TQCORE_KIND_RECORD;
    }
}

int TqcoreIsOutputCode(uint32_t code) {
    if (code == TQPROTO_STATUS_CODE) {
        return 1;
    }
    for (uint32_t number = 0; number < TQPROTO_REQUEST_COUNT; ++number) {
        if (kCodes[number] == code) {
            return kDirections[number] == TQPROTO_OUT ? 1 : 0;
        }
    }
    return 0;
}

uint32_t TqcoreRegisterValue(const TQCORE_RECORDS *records, uint32_t address) {
    const int at = FindRegister(*records, address);
    return at < 0 ? 0 : records->register_value[at];
}

int TqcoreStoreRegister(TQCORE_RECORDS *records, uint32_t address, uint32_t value) {
    int at = FindRegister(*records, address);
    if (at < 0) {
        if (records->register_count == TQCORE_REGISTER_MAX) {
            return -1;
        }
        at = static_cast<int>(records->register_count++);
        records->register_address[at] = address;
    }
    records->register_value[at] = value;
    return 0;
}

void TqcoreRegistryDefault(int index, const char *serial, TQCORE_REGISTRY_DEFAULT *value) {
    static const char *const kNames[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_NAMES;
    static const int kTexts[TQPROTO_REGISTRY_VALUE_COUNT] = TQPROTO_REGISTRY_TEXTS;
    // The camera's own identity and versions, in the order of the values.
    static const uint32_t kNumbers[TQPROTO_REGISTRY_VALUE_COUNT] = {1, 2, 0, 0, 1, 3,
                                                                    0, 0, 2, 5, 0, 0};
    static const char *const kTextValues[TQPROTO_REGISTRY_VALUE_COUNT] = {
        nullptr, nullptr,      "tqsim camera", nullptr, nullptr, nullptr,
        "1.03",  "2026-11-30", nullptr,        nullptr, "2.05",  "2026-12-01"};
    if (index < 0 || index >= static_cast<int>(TQPROTO_REGISTRY_VALUE_COUNT)) {
        *value = TQCORE_REGISTRY_DEFAULT{nullptr, 0, 0, nullptr};
        return;
    }
    *value =
        TQCORE_REGISTRY_DEFAULT{kNames[index], kTexts[index], kNumbers[index], kTextValues[index]};
    if (value->is_text != 0 && value->text == nullptr) {
        value->text = serial;
    }
}

void TqcoreDefaultSensor(TQCORE_SENSOR *sensor) {
    FillBytes(sensor, 0, sizeof *sensor);
    sensor->width = 1024;
    sensor->height = 768;
    sensor->capability_flags = TQDEV_CAMERA_CAP_XFORM_MATRIX | TQDEV_CAMERA_CAP_AVERAGE_DARK |
                               TQDEV_CAMERA_CAP_DRIVER_PAIR;
    sensor->seed = 1;
}

void TqcoreInitCamera(TQCORE_CAMERA *camera, const TQCORE_SENSOR *sensor) {
    FillBytes(camera, 0, sizeof *camera);
    camera->sensor = *sensor;
    camera->state_ticket = -1;
    camera->state_word = TQPROTO_STATE_SET_UP;
    TQCORE_RECORDS &records = camera->records;
    TQDEV_CAMERA_INFO &info = records.info;
    PutWord(info.driver_data, TQPROTO_INFO_SENSOR_WIDTH, sensor->width);
    PutWord(info.driver_data, TQPROTO_INFO_SENSOR_HEIGHT, sensor->height);
    PutWord(info.driver_data, TQPROTO_INFO_BITS_PER_SAMPLE, 12);
    PutWord(info.driver_data, TQPROTO_INFO_MAX_BINNING, TQPROTO_BINNING_MAX);
    PutText(info.driver_data, TQPROTO_INFO_MODEL, "tqsim camera");
    PutText(info.driver_data, TQPROTO_INFO_SERIAL, sensor->serial);
    info.capability_flags = sensor->capability_flags;
    TQDEV_EXTENDED_CAMERA_INFO &extended = records.extended;
    PutWord(extended.driver_data, TQPROTO_EXTENDED_SENSOR_WIDTH, sensor->width);
    PutWord(extended.driver_data, TQPROTO_EXTENDED_SENSOR_HEIGHT, sensor->height);
    PutWord(extended.driver_data, TQPROTO_EXTENDED_DARK_COLUMNS, TQPROTO_DARK_COLUMNS);
    PutWord(extended.driver_data, 12, 1);
    // The blocks that the library may overwrite carry a recognisable filler.
    FillBytes(extended.xform_matrix, 0xA5, sizeof extended.xform_matrix);
    FillBytes(&extended.average_dark, 0xA5, sizeof extended.average_dark);
    FillBytes(extended.driver_pair, 0xA5, sizeof extended.driver_pair);
    PutWord(records.state.driver_data, 0, 1);
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    CopyBytes(records.matrix, identity, sizeof identity);
    records.dark = 64;
    records.driver_pair[0] = sensor->width;
    records.driver_pair[1] = sensor->height;
}

void TqcoreServeRecord(TQCORE_CAMERA *camera, TQCORE_REQUEST *request) {
    if (request->number == 6) {
        ServeDescriptor(*camera, *request);
        return;
    }
    request->record.word[0] = ServeRecordNumber(*camera, *request);
}

uint32_t TqcoreStartFrame(TQCORE_CAMERA *camera, TQCORE_REQUEST *request, uint32_t *exposure_us,
                          uint32_t *period_us) {
    tqsim::FrameGeometry frame{};
    uint32_t result = FrameOf(*camera, *request, &frame);
    // The library sizes the buffer by what it asked for, not by what arrives.
    const uint32_t needed = frame.packedOutput ? frame.info.packed_size : frame.info.image_size;
    if (result == TQDEV_RESULT_OK && (request->out == nullptr || request->out_size < needed)) {
        result = TQDEV_RESULT_INVALID_BUFFER;
    }
    request->record.word[0] = result;
    if (result != TQDEV_RESULT_OK) {
        return result;
    }
    *exposure_us = frame.exposureUs;
    *period_us = camera->sensor.frame_period_us > frame.exposureUs ? camera->sensor.frame_period_us
                                                                   : frame.exposureUs;
    SetState(*camera, request->settings.ticket, TQPROTO_STATE_EXPOSING);
    return result;
}

void TqcoreReadingOut(TQCORE_CAMERA *camera, const TQCORE_REQUEST *request) {
    SetState(*camera, request->settings.ticket, TQPROTO_STATE_READING_OUT);
}

void TqcoreFinishFrame(TQCORE_CAMERA *camera, TQCORE_REQUEST *request) {
    const uint32_t bytes =
        TqcoreFillFrame(&camera->sensor, request, camera->frames_delivered, camera->records.dark);
    TqcoreFrameDelivered(camera, request, bytes);
}

uint32_t TqcoreFillFrame(const TQCORE_SENSOR *sensor, const TQCORE_REQUEST *request,
                         uint32_t number, uint16_t dark) {
    return TqcoreFillFrameFrom(sensor, request, number, dark, nullptr);
}

uint32_t TqcoreFillFrameFrom(const TQCORE_SENSOR *sensor, const TQCORE_REQUEST *request,
                             uint32_t number, uint16_t dark, const void *pattern) {
    tqsim::FrameGeometry frame{};
    tqsim::DeriveFrame(request->settings, ModelOf(*sensor), &frame);
    const tqsim::FrameStamp stamp = {number, sensor->seed, request->settings.ticket, dark};
    return static_cast<uint32_t>(
        tqsim::WriteFrame(frame, stamp, static_cast<uint8_t *>(request->out), request->out_size,
                          static_cast<const uint8_t *>(pattern)));
}

void TqcorePatternIdentity(const TQCORE_SENSOR *sensor, const TQDEV_CAPTURE_SETTINGS *settings,
                           TQCORE_PATTERN_ID *id) {
    *id = TQCORE_PATTERN_ID{};
    tqsim::FrameGeometry frame{};
    if (tqsim::DeriveFrame(*settings, ModelOf(*sensor), &frame) != 0) {
        return;
    }
    id->x0 = frame.x0;
    id->y0 = frame.y0;
    id->width = frame.width;
    id->height = frame.height;
    id->line_width = static_cast<uint32_t>(frame.info.line_width);
    id->lines = frame.height / frame.vb;
    id->seed = sensor->seed;
    id->bytes = static_cast<uint32_t>(tqsim::PatternBytes(frame));
}

void TqcorePreparePattern(const TQCORE_SENSOR *sensor, const TQDEV_CAPTURE_SETTINGS *settings,
                          void *pattern) {
    tqsim::FrameGeometry frame{};
    if (tqsim::DeriveFrame(*settings, ModelOf(*sensor), &frame) == 0) {
        tqsim::PreparePattern(frame, sensor->seed, static_cast<uint8_t *>(pattern));
    }
}

void TqcoreFrameDelivered(TQCORE_CAMERA *camera, TQCORE_REQUEST *request, uint32_t bytes) {
    tqsim::FrameGeometry frame{};
    tqsim::DeriveFrame(request->settings, ModelOf(camera->sensor), &frame);
    const uint32_t ticket = request->settings.ticket;
    const uint32_t number = camera->frames_delivered++;
    SetState(*camera, ticket, TQPROTO_STATE_DELIVERED);
    request->data_bytes = bytes;
    SetWords(*camera, *request, ticket, number);
    request->record.word[5] = frame.packedInPlace ? 1 : 0;
}

void TqcoreAbortFrame(TQCORE_CAMERA *camera, const TQCORE_REQUEST *request) {
    SetState(*camera, request->settings.ticket, TQPROTO_STATE_SET_UP);
}

uint32_t TqcorePreparePeriod(const TQCORE_CAMERA *camera) {
    return camera->sensor.frame_period_us;
}

void TqcoreFinishPrepare(TQCORE_CAMERA *camera, TQCORE_REQUEST *request) {
    SetWords(*camera, *request, static_cast<uint32_t>(camera->state_ticket),
             camera->frames_delivered);
}

} // extern "C"
