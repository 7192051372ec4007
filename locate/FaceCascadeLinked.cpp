// The window's locator: the cascade is linked in.
#include "locate/FaceCascade.h"

FaceCascade::Finder FaceCascade::finder(std::string*) {
    return &FaceCascade::find;
}
