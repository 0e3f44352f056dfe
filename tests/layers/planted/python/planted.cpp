// The Python module reaching past the facade into the core: the layer check must refuse it.
#include <pybind11/pybind11.h>
#include <string>
#include <qel/qel.h>
#include <core/image/dib_image.h>
