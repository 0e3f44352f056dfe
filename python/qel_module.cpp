// The Python module `qel`: the library's picture on numpy arrays. Operations release the GIL, so
// pictures run side by side in threads; a refusal raises qel.Refused with the library's reason.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>
#include <sstream>

#include <qel/qel.h>

namespace py = pybind11;

namespace {

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs an operation without the GIL; a refusal becomes qel.Refused, otherwise whether it changed
// the picture.
template <class F>
bool runOp(F&& f) {
    qel::OpResult r;
    {
        py::gil_scoped_release release;
        r = f();
    }
    if (r.isRefused()) throw Refused(r.reason);
    return r.isChanged();
}

qel::Picture fromArray(py::array array, std::optional<py::array_t<uint8_t>> palette) {
    const auto dtype = array.dtype();
    if (dtype.is(py::dtype::of<bool>()) && array.ndim() == 2) {
        auto a = array.cast<py::array_t<bool, py::array::c_style | py::array::forcecast>>();
        const auto h = int(a.shape(0)), w = int(a.shape(1));
        qel::Picture p = qel::Picture::create(w, h, 1, {{0, 0, 0}, {255, 255, 255}});
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            std::memset(row, 0, p.rowBytes());
            for (int x = 0; x < w; ++x)
                if (a.at(y, x)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
        return p;
    }
    if (!dtype.is(py::dtype::of<uint8_t>())) throw py::type_error("qel.Picture needs a uint8 or bool array");
    auto a = array.cast<py::array_t<uint8_t, py::array::c_style | py::array::forcecast>>();
    if (a.ndim() == 3 && a.shape(2) == 3) {
        const auto h = int(a.shape(0)), w = int(a.shape(1));
        qel::Picture p = qel::Picture::create(w, h, 24);
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            const uint8_t* src = a.data(y, 0, 0);
            for (int x = 0; x < w; ++x) row[3 * x] = src[3 * x + 2], row[3 * x + 1] = src[3 * x + 1], row[3 * x + 2] = src[3 * x];
        }
        return p;
    }
    if (a.ndim() == 2) {
        std::vector<qel::Colour> colours;
        if (palette) {
            if (palette->ndim() != 2 || palette->shape(1) != 3 || palette->shape(0) > 256)
                throw py::value_error("the palette is an N x 3 uint8 array of at most 256 colours");
            for (py::ssize_t i = 0; i < palette->shape(0); ++i)
                colours.push_back({palette->at(i, 0), palette->at(i, 1), palette->at(i, 2)});
        }
        const auto h = int(a.shape(0)), w = int(a.shape(1));
        qel::Picture p = qel::Picture::create(w, h, 8, colours);
        for (int y = 0; y < h; ++y) std::memcpy(p.row(y), a.data(y, 0), size_t(w));
        return p;
    }
    throw py::value_error("qel.Picture takes H x W x 3 (24-bit), H x W uint8 (8-bit) or H x W bool (1-bit)");
}

// The pixels as an array over the picture's own rows where the layout allows (8 and 24 bits:
// rows are stored bottom-up, 24-bit pixels blue first), unpacked into a new array otherwise.
py::array toArray(py::object self) {
    auto& p = self.cast<qel::Picture&>();
    if (p.empty()) throw py::value_error("there is no picture");
    const auto h = py::ssize_t(p.height()), w = py::ssize_t(p.width()), stride = py::ssize_t(p.rowBytes());
    if (p.depth() == 24)
        return py::array_t<uint8_t>({h, w, py::ssize_t(3)}, {-stride, py::ssize_t(3), py::ssize_t(-1)}, p.row(0) + 2, self);
    if (p.depth() == 8) return py::array_t<uint8_t>({h, w}, {-stride, py::ssize_t(1)}, p.row(0), self);
    py::array_t<uint8_t> out({h, w});
    const int d = p.depth();
    for (int y = 0; y < int(h); ++y) {
        const uint8_t* row = p.row(y);
        for (int x = 0; x < int(w); ++x) {
            const int bit = x * d;
            out.mutable_at(y, x) = uint8_t((row[bit / 8] >> (8 - d - bit % 8)) & ((1 << d) - 1));
        }
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(qel, m) {
    m.doc() = "Qel's picture operations on numpy arrays.";
    static py::exception<Refused> refused(m, "Refused");
    py::register_exception_translator([](std::exception_ptr e) {
        try {
            if (e) std::rethrow_exception(e);
        } catch (const Refused& r) {
            refused(r.what());
        } catch (const qel::Error& err) {
            PyErr_SetString(PyExc_OSError, err.what());
        }
    });

    py::class_<qel::Picture> pic(m, "Picture", "A picture of 1, 4, 8 or 24 bits per pixel.");
    pic.def(py::init(&fromArray), py::arg("array"), py::arg("palette") = py::none(),
            "A picture from H x W x 3 uint8 (24-bit), H x W uint8 with an optional N x 3 palette (8-bit) "
            "or H x W bool (1-bit).")
        .def_property_readonly("width", &qel::Picture::width)
        .def_property_readonly("height", &qel::Picture::height)
        .def_property_readonly("depth", &qel::Picture::depth)
        .def_property_readonly("palette", [](const qel::Picture& p) {
            const auto colours = p.palette();
            py::array_t<uint8_t> out({py::ssize_t(colours.size()), py::ssize_t(3)});
            for (size_t i = 0; i < colours.size(); ++i)
                out.mutable_at(i, 0) = colours[i].red, out.mutable_at(i, 1) = colours[i].green, out.mutable_at(i, 2) = colours[i].blue;
            return out;
        })
        .def_property("thinned", &qel::Picture::thinned, &qel::Picture::setThinned)
        .def("__array__", [](py::object self, py::object) { return toArray(self); }, py::arg("dtype") = py::none())
        .def("save", [](const qel::Picture& p, const std::string& path, std::optional<int> quality) {
            py::gil_scoped_release release;
            p.save(path, quality.value_or(0));
        }, py::arg("path"), py::arg("quality") = py::none(), "Writes the picture in the format of the extension.")
        .def("thin", [](qel::Picture& p) { return runOp([&] { return p.thin(); }); }, "thin black strokes to one pixel")
        .def("straighten", [](qel::Picture& p, int length) { return runOp([&] { return p.straighten(length); }); },
             py::arg("length"), "redraw thinned strokes as straight segments of at least LENGTH pixels")
        .def("tidy", [](qel::Picture& p) { return runOp([&] { return p.tidy(); }); })
        .def("tidy2", [](qel::Picture& p) { return runOp([&] { return p.tidy2(); }); })
        .def("grey", [](qel::Picture& p) { return runOp([&] { return p.grey(); }); })
        .def("to_256", [](qel::Picture& p) { return runOp([&] { return p.to256(); }); })
        .def("to_16", [](qel::Picture& p) { return runOp([&] { return p.to16(); }); })
        .def("to_24bit", [](qel::Picture& p) { return runOp([&] { return p.to24bit(); }); })
        .def("reduce_256", [](qel::Picture& p) { return runOp([&] { return p.reduce256(); }); })
        .def("black_white", [](qel::Picture& p, int t) { return runOp([&] { return p.blackWhite(t); }); }, py::arg("t"))
        .def("transform", [](qel::Picture& p, std::string xf, std::string yf, std::string zf) {
            return runOp([&] { return p.transform({.x = xf, .y = yf, .z = zf}); });
        }, py::arg("xf"), py::arg("yf") = "y", py::arg("zf") = "0")
        .def("scale", [](qel::Picture& p, int w, int h, bool nearest) { return runOp([&] { return p.scale(w, h, nearest); }); },
             py::arg("width"), py::arg("height"), py::arg("nearest") = false)
        .def("fractal", [](qel::Picture& p) { return runOp([&] { return p.fractal(); }); });

    m.def("open", [](const std::string& path) {
        py::gil_scoped_release release;
        return qel::Picture::open(path);
    }, py::arg("path"), "Reads a BMP, PNG, JPEG, TIFF, WebP or GIF file.");
    m.def("calc", [](const std::string& formula) { return qel::calc(formula); }, py::arg("formula"),
          "The calculator's answer for the formula, as text.");
    m.attr("__version__") = qel::version();
}
