// The Python module `qel`: the library's picture on numpy arrays. Every operation the library lists
// becomes a method named as qel-batch's option (black-white → black_white) with its value as a
// keyword argument; those with several values (transform, scale, mix, quantize) have their own.
// Operations release the GIL, so pictures run side by side in threads; a refusal raises
// qel.Refused with the library's reason.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <sstream>

#include <qel/qel.h>

namespace py = pybind11;

namespace {

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The picture as Python holds it: one operation at a time, whichever thread asks.
struct PyPicture {
    qel::Picture pic;
    std::mutex busy;
    explicit PyPicture(qel::Picture&& p) : pic(std::move(p)) {}
};

// The picture behind `self`; one whose construction never ran (Picture.__new__ alone) is refused.
PyPicture& picture(py::handle self) {
    if (!py::isinstance<PyPicture>(self)) throw py::type_error("not a qel.Picture");
    auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
    py::detail::value_and_holder vh = instance->get_value_and_holder();
    if (!vh.holder_constructed())
        throw py::type_error("qel.Picture was not initialised: make one with qel.Picture(array) or qel.open(file)");
    return *vh.value_ptr<PyPicture>();
}

// Runs an operation without the GIL; a refusal becomes qel.Refused, otherwise whether it changed
// the picture.
template <class F>
bool runOp(PyPicture& p, F&& f) {
    qel::OpResult r;
    {
        py::gil_scoped_release release;
        std::lock_guard lock(p.busy);
        r = f(p.pic);
    }
    if (r.isRefused()) throw Refused(r.reason);
    return r.isChanged();
}

// The method's name: the option's, with '_' for '-'; --palette=FILE loads a palette file, as the
// property `palette` is the picture's colour table.
std::string methodName(std::string name) {
    if (name == "palette") return "load_palette";
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

// A new picture for an array: a size or palette the library refuses is the array's fault (ValueError).
qel::Picture create(py::ssize_t w, py::ssize_t h, int depth, const std::vector<qel::Colour>& palette) {
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX)
        throw py::value_error("an array of " + std::to_string(h) + " x " + std::to_string(w) + " pixels is no picture");
    try {
        return qel::Picture::create(int(w), int(h), depth, palette);
    } catch (const qel::Error& e) {
        throw py::value_error(e.what());
    }
}

std::unique_ptr<PyPicture> fromArray(py::array array, std::optional<py::array_t<uint8_t>> palette) {
    const auto dtype = array.dtype();
    if (dtype.is(py::dtype::of<bool>()) && array.ndim() == 2) {
        auto a = array.cast<py::array_t<bool, py::array::c_style | py::array::forcecast>>();
        qel::Picture p = create(a.shape(1), a.shape(0), 1, {{0, 0, 0}, {255, 255, 255}});
        const int h = p.height(), w = p.width();
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            std::memset(row, 0, p.rowBytes());
            for (int x = 0; x < w; ++x)
                if (a.at(y, x)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
        return std::make_unique<PyPicture>(std::move(p));
    }
    if (!dtype.is(py::dtype::of<uint8_t>())) throw py::type_error("qel.Picture needs a uint8 or bool array");
    auto a = array.cast<py::array_t<uint8_t, py::array::c_style | py::array::forcecast>>();
    if (a.ndim() == 3 && a.shape(2) == 3) {
        qel::Picture p = create(a.shape(1), a.shape(0), 24, {});
        const int h = p.height(), w = p.width();
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            const uint8_t* src = a.data(y, 0, 0);
            for (int x = 0; x < w; ++x) row[3 * x] = src[3 * x + 2], row[3 * x + 1] = src[3 * x + 1], row[3 * x + 2] = src[3 * x];
        }
        return std::make_unique<PyPicture>(std::move(p));
    }
    if (a.ndim() == 2) {
        std::vector<qel::Colour> colours;
        if (palette) {
            if (palette->ndim() != 2 || palette->shape(1) != 3 || palette->shape(0) > 256)
                throw py::value_error("the palette is an N x 3 uint8 array of at most 256 colours");
            for (py::ssize_t i = 0; i < palette->shape(0); ++i)
                colours.push_back({palette->at(i, 0), palette->at(i, 1), palette->at(i, 2)});
        }
        qel::Picture p = create(a.shape(1), a.shape(0), 8, colours);
        const int h = p.height(), w = p.width();
        for (int y = 0; y < h; ++y) std::memcpy(p.row(y), a.data(y, 0), size_t(w));
        return std::make_unique<PyPicture>(std::move(p));
    }
    throw py::value_error("qel.Picture takes H x W x 3 (24-bit), H x W uint8 (8-bit) or H x W bool (1-bit)");
}

// The pixels as an array over the picture's own rows where the layout allows (8 and 24 bits:
// rows are stored bottom-up, 24-bit pixels blue first), unpacked into a new array otherwise. The
// array keeps the rows' memory: an operation run later works on a copy.
py::array toArray(PyPicture& self) {
    std::lock_guard lock(self.busy);
    qel::Picture& p = self.pic;
    if (p.empty()) throw py::value_error("there is no picture");
    const auto h = py::ssize_t(p.height()), w = py::ssize_t(p.width()), stride = py::ssize_t(p.rowBytes());
    if (p.depth() == 24 || p.depth() == 8) {
        auto* rows = new std::shared_ptr<const void>(p.lendRows());
        py::capsule keep(rows, [](void* held) { delete static_cast<std::shared_ptr<const void>*>(held); });
        if (p.depth() == 24)
            return py::array_t<uint8_t>({h, w, py::ssize_t(3)}, {-stride, py::ssize_t(3), py::ssize_t(-1)}, p.row(0) + 2, keep);
        return py::array_t<uint8_t>({h, w}, {-stride, py::ssize_t(1)}, p.row(0), keep);
    }
    py::array_t<uint8_t> out({h, w});
    const int d = p.depth();
    for (int y = 0; y < int(h); ++y) {
        const uint8_t* row = static_cast<const qel::Picture&>(p).row(y);
        for (int x = 0; x < int(w); ++x) {
            const int bit = x * d;
            out.mutable_at(y, x) = uint8_t((row[bit / 8] >> (8 - d - bit % 8)) & ((1 << d) - 1));
        }
    }
    return out;
}

// One method per listed operation with a value of none, a whole number or text.
void defineOperations(py::class_<PyPicture>& pic) {
    using Value = qel::OperationInfo::Value;
    for (const qel::OperationInfo& op : qel::listOperations()) {
        if (!op.needsPicture || op.value == Value::Record) continue;
        const std::string name = op.name;
        std::string doc = op.help;
        if (op.reports) doc += " (returns the text)";
        else doc += " (returns whether the picture changed)";
        if (op.reports) {
            pic.def(methodName(name).c_str(), [name](py::handle self_) { PyPicture& p = picture(self_);
                std::ostringstream out;
                runOp(p, [&](qel::Picture& q) { return q.run(name, {}, &out); });
                return out.str();
            }, doc.c_str());
        } else if (op.value == Value::None) {
            pic.def(methodName(name).c_str(), [name](py::handle self_) { PyPicture& p = picture(self_);
                return runOp(p, [&](qel::Picture& q) { return q.run(name); });
            }, doc.c_str());
        } else if (op.value == Value::Int) {
            pic.def(methodName(name).c_str(), [name](py::handle self_, int32_t value) { PyPicture& p = picture(self_);
                return runOp(p, [&](qel::Picture& q) { return q.run(name, value); });
            }, py::arg(op.keyword.c_str()), doc.c_str());
        } else {
            pic.def(methodName(name).c_str(), [name](py::handle self_, const std::string& value) { PyPicture& p = picture(self_);
                return runOp(p, [&](qel::Picture& q) { return q.run(name, value); });
            }, py::arg(op.keyword.c_str()), doc.c_str());
        }
    }
}

const qel::OperationInfo& info(const char* name) {
    for (const qel::OperationInfo& op : qel::listOperations())
        if (op.name == name) return op;
    throw std::logic_error(std::string("no operation ") + name);
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

    py::class_<PyPicture> pic(m, "Picture", "A picture of 1, 4, 8 or 24 bits per pixel.");
    pic.def(py::init(&fromArray), py::arg("array"), py::arg("palette") = py::none(),
            "A picture from H x W x 3 uint8 (24-bit), H x W uint8 with an optional N x 3 palette (8-bit) "
            "or H x W bool (1-bit: False black, True white).")
        .def_property_readonly("width", [](py::handle self_) { PyPicture& p = picture(self_); return p.pic.width(); }, "pixels across")
        .def_property_readonly("height", [](py::handle self_) { PyPicture& p = picture(self_); return p.pic.height(); }, "pixels down")
        .def_property_readonly("depth", [](py::handle self_) { PyPicture& p = picture(self_); return p.pic.depth(); }, "bits per pixel: 1, 4, 8 or 24")
        .def_property_readonly("palette", [](py::handle self_) { PyPicture& p = picture(self_);
            std::lock_guard lock(p.busy);
            const auto colours = p.pic.palette();
            py::array_t<uint8_t> out({py::ssize_t(colours.size()), py::ssize_t(3)});
            for (size_t i = 0; i < colours.size(); ++i)
                out.mutable_at(i, 0) = colours[i].red, out.mutable_at(i, 1) = colours[i].green, out.mutable_at(i, 2) = colours[i].blue;
            return out;
        }, "the colour table as an N x 3 uint8 array (empty for 24-bit pictures)")
        .def_property("thinned", [](py::handle self_) { PyPicture& p = picture(self_); return p.pic.thinned(); },
                      [](py::handle self_, bool t) { PyPicture& p = picture(self_); p.pic.setThinned(t); },
                      "set by thin() and tidy2(); tidy() and straighten() need it")
        .def("__array__", [](py::handle self_, py::object) { PyPicture& self = picture(self_); return toArray(self); }, py::arg("dtype") = py::none())
        .def("save", [](py::handle self_, const std::string& path, std::optional<int> quality) { PyPicture& p = picture(self_);
            py::gil_scoped_release release;
            std::lock_guard lock(p.busy);
            p.pic.save(path, quality.value_or(0));
        }, py::arg("path"), py::arg("quality") = py::none(),
           "Writes the picture in the format of the extension (.bmp .png .jpg .tif .webp); quality 1-100 for "
           "JPEG or lossy WebP.");
    defineOperations(pic);
    pic.def("transform",
            [](py::handle self_, std::string x, std::string y, std::string z, std::array<float, 3> weights, bool forward) { PyPicture& p = picture(self_);
                const qel::TransformArgs args{.x = x, .y = y, .z = z, .weightRed = weights[0], .weightGreen = weights[1],
                                              .weightBlue = weights[2], .forward = forward};
                return runOp(p, [&](qel::Picture& q) { return q.transform(args); });
            },
            py::arg("x"), py::arg("y") = "y", py::arg("z") = "0", py::arg("weights") = std::array<float, 3>{1, 1, 1},
            py::arg("forward") = false, (info("transform").help + " (returns whether the picture changed)").c_str())
        .def("quantize",
             [](py::handle self_, int colours, bool dither) { PyPicture& p = picture(self_);
                 return runOp(p, [&](qel::Picture& q) { return q.quantize(colours, dither); });
             },
             py::arg("colours") = 256, py::arg("dither") = false,
             (info("quantize").help + " (returns whether the picture changed)").c_str())
        .def("scale",
             [](py::handle self_, int width, int height, bool nearest) { PyPicture& p = picture(self_);
                 return runOp(p, [&](qel::Picture& q) { return q.scale(width, height, nearest); });
             },
             py::arg("width"), py::arg("height"), py::arg("nearest") = false,
             (info("scale").help + " (returns whether the picture changed)").c_str())
        .def("mix",
             [](py::handle self_, std::string file, float ratio, std::array<int32_t, 4> area, std::array<int32_t, 2> copy_from,
                std::array<int, 3> transparent) { PyPicture& p = picture(self_);
                 for (int c : transparent)
                     if (c < 0 || c > 255) throw py::value_error("each colour of transparent is from 0 to 255");
                 const qel::MixArgs args{.file = file, .ratio = ratio, .x = area[0], .y = area[1], .width = area[2],
                                         .height = area[3], .copyX = copy_from[0], .copyY = copy_from[1],
                                         .transparent = {uint8_t(transparent[0]), uint8_t(transparent[1]), uint8_t(transparent[2])}};
                 return runOp(p, [&](qel::Picture& q) { return q.mix(args); });
             },
             py::arg("file"), py::arg("ratio") = 0.5f, py::arg("area") = std::array<int32_t, 4>{0, 0, 0, 0},
             py::arg("copy_from") = std::array<int32_t, 2>{0, 0}, py::arg("transparent") = std::array<int, 3>{205, 205, 205},
             (info("mix").help + "; area is x, y, width, height (0: to the edge) (returns whether the picture changed)").c_str());

    m.def("open", [](const std::string& path) {
        py::gil_scoped_release release;
        return std::make_unique<PyPicture>(qel::Picture::open(path));
    }, py::arg("path"), "Reads a BMP, PNG, JPEG, TIFF, WebP or GIF file.");
    m.def("calc", [](const std::string& formula) { return qel::calc(formula); }, py::arg("formula"),
          "The calculator's answer for the formula, as text (x=3.141592, y=2.718282, z=0).");
    m.attr("__version__") = qel::version();
}
