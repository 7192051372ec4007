// The cascade's module (see FaceCascade.h): only its entries are visible outside it.
#include "locate/FaceCascade.h"

extern "C" __attribute__((visibility("default"))) FaceCascade::Finder vetra_face_cascade_entry() {
    return &FaceCascade::find;
}

extern "C" __attribute__((visibility("default"))) FaceCascade::Finder vetra_eye_cascade_entry() {
    return &FaceCascade::findEyes;
}
