// The window's locator: the cascade is linked in.
#include "locate/FaceCascade.h"

FaceCascade::Finder FaceCascade::finder(std::string*) {
    return &FaceCascade::find;
}

FaceCascade::Finder FaceCascade::eyeFinder(std::string*) {
    return &FaceCascade::findEyes;
}
