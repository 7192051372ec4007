#pragma once

// dlib's frontal face detector as the locator keeps it: the scanner (which builds the HOG
// pyramid of a picture) and, for each of the detector's filters, its threshold and its
// filter bank. Written at build time by FaceModelGen, read once per process.
#include <dlib/image_processing/scan_fhog_pyramid.h>

#include <istream>
#include <vector>

namespace FaceModel {

using Scanner = dlib::scan_fhog_pyramid<dlib::pyramid_down<6>>;

// Changes whenever the layout below does.
constexpr int kFormat = 1;

struct Filter {
    double threshold = 0;
    Scanner::fhog_filterbank bank;
};

struct Model {
    Scanner scanner; // its configuration only: a scanner holds one picture's pyramid
    std::vector<Filter> filters;
};

// Throws dlib::serialization_error on bytes of another layout.
inline void read(std::istream& in, Model& model) {
    int format = 0;
    dlib::deserialize(format, in);
    if (format != kFormat)
        throw dlib::serialization_error("face model of another layout");
    dlib::deserialize(model.scanner, in);
    unsigned long count = 0;
    dlib::deserialize(count, in);
    model.filters.resize(count);
    for (Filter& filter : model.filters) {
        dlib::deserialize(filter.threshold, in);
        dlib::deserialize(filter.bank.filters, in);
        dlib::deserialize(filter.bank.row_filters, in);
        dlib::deserialize(filter.bank.col_filters, in);
    }
}

} // namespace FaceModel
