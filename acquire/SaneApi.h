#pragma once

#include <sane/sane.h>

#include <QString>

// The SANE calls the scanner code makes, behind one interface so that tests can play a
// scanner that jams, vanishes or stalls. The real implementation forwards to libsane.
//
// The calls keep SANE's own contracts: init before anything else, a handle from open
// until close, start/get_parameters/read/cancel for a page. Only cancel may be called
// while another thread is inside read on the same handle.
class SaneApi {
  public:
    virtual ~SaneApi();

    virtual SANE_Status init(SANE_Int* version) = 0;
    virtual void exit() = 0;
    virtual SANE_Status getDevices(const SANE_Device*** list, SANE_Bool localOnly) = 0;
    virtual SANE_Status open(SANE_String_Const name, SANE_Handle* handle) = 0;
    virtual void close(SANE_Handle handle) = 0;
    virtual const SANE_Option_Descriptor* optionDescriptor(SANE_Handle handle, SANE_Int option) = 0;
    virtual SANE_Status controlOption(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                      SANE_Int* info) = 0;
    virtual SANE_Status start(SANE_Handle handle) = 0;
    virtual SANE_Status getParameters(SANE_Handle handle, SANE_Parameters* params) = 0;
    virtual SANE_Status read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) = 0;
    virtual void cancel(SANE_Handle handle) = 0;

    // libsane itself.
    static SaneApi& real();
};

// SANE's own words for a status ("Document feeder jammed"), for the log.
QString saneStatusText(SANE_Status status);
