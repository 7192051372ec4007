#include "acquire/SaneApi.h"

SaneApi::~SaneApi() = default;

namespace {

class RealSane final : public SaneApi {
  public:
    SANE_Status init(SANE_Int* version) override { return sane_init(version, nullptr); }
    void exit() override { sane_exit(); }
    SANE_Status getDevices(const SANE_Device*** list, SANE_Bool localOnly) override {
        return sane_get_devices(list, localOnly);
    }
    SANE_Status open(SANE_String_Const name, SANE_Handle* handle) override { return sane_open(name, handle); }
    void close(SANE_Handle handle) override { sane_close(handle); }
    const SANE_Option_Descriptor* optionDescriptor(SANE_Handle handle, SANE_Int option) override {
        return sane_get_option_descriptor(handle, option);
    }
    SANE_Status controlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                              SANE_Int* info) override {
        return sane_control_option(handle, option, action, value, info);
    }
    SANE_Status start(SANE_Handle handle) override { return sane_start(handle); }
    SANE_Status getParameters(SANE_Handle handle, SANE_Parameters* params) override {
        return sane_get_parameters(handle, params);
    }
    SANE_Status read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) override {
        return sane_read(handle, data, maxLength, length);
    }
    void cancel(SANE_Handle handle) override { sane_cancel(handle); }
};

} // namespace

SaneApi& SaneApi::real() {
    static RealSane api;
    return api;
}

QString saneStatusText(SANE_Status status) {
    const char* text = sane_strstatus(status);
    return text ? QString::fromUtf8(text) : QStringLiteral("status %1").arg(int(status));
}
