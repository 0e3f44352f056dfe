// The Python module `qel`: the library's picture on numpy arrays. Every operation the library lists
// becomes a method named as qel-batch's option (black-white → black_white) with its value as a
// keyword argument; those with several values (transform, scale, mix, quantize) have their own.
// Operations release the GIL, so pictures run side by side in threads; a refusal raises
// qel.Refused with the library's reason.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <climits>
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
    bool changed = false;  // what the last operation did
    std::string reason;    // and why it changed nothing
    std::string note;      // and what it found, for an operation that notes it (deskew: the tilt)
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
    // A file that cannot be opened or written raises the OSError subclass, as Python's own open() does.
    if (r.isRefused() && r.code) throw qel::Error(std::strerror(r.code), r.code, r.file);
    if (r.isRefused()) throw Refused(r.reason);
    p.changed = r.isChanged();
    p.reason = r.reason;
    p.note.clear();
    return r.isChanged();
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

// The colours of an N x 3 uint8 palette array; anything else is refused, never converted.
std::vector<qel::Colour> paletteOf(const py::object& palette) {
    if (!py::isinstance<py::array>(palette)) throw py::type_error("the palette must be a numpy array of uint8, N x 3");
    const auto a = py::reinterpret_borrow<py::array>(palette);
    if (!a.dtype().is(py::dtype::of<uint8_t>()))
        throw py::type_error("the palette must be uint8, not " + py::str(py::object(a.dtype())).cast<std::string>());
    if (a.ndim() != 2 || a.shape(1) != 3 || a.shape(0) > 256)
        throw py::value_error("the palette is an N x 3 uint8 array of at most 256 colours");
    const auto c = a.unchecked<uint8_t, 2>();
    std::vector<qel::Colour> colours;
    for (py::ssize_t i = 0; i < c.shape(0); ++i) colours.push_back({c(i, 0), c(i, 1), c(i, 2)});
    return colours;
}

// A picture from an array: its size is checked before any pixel is copied, and the pixels are read
// through the array's own strides.
std::unique_ptr<PyPicture> fromArray(const py::array& array, const py::object& palette) {
    const auto dtype = array.dtype();
    const bool bits = dtype.is(py::dtype::of<bool>());
    if (!bits && !dtype.is(py::dtype::of<uint8_t>()))
        throw py::type_error("qel.Picture needs a uint8 or bool array, not " + py::str(py::object(dtype)).cast<std::string>());
    const bool colour = !bits && array.ndim() == 3 && array.shape(2) == 3;
    if (!colour && array.ndim() != 2)
        throw py::value_error("qel.Picture takes H x W x 3 (24-bit), H x W uint8 (8-bit) or H x W bool (1-bit)");
    if (!palette.is_none() && (bits || colour))
        throw py::value_error("a palette goes with an H x W uint8 array (8-bit), not with a 24-bit or bool one");
    const std::vector<qel::Colour> colours =
        bits ? std::vector<qel::Colour>{{0, 0, 0}, {255, 255, 255}} : palette.is_none() ? std::vector<qel::Colour>{} : paletteOf(palette);
    qel::Picture p = create(array.shape(1), array.shape(0), bits ? 1 : colour ? 24 : 8, colours);
    const int h = p.height(), w = p.width();
    if (bits) {
        const auto a = array.unchecked<bool, 2>();
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            std::memset(row, 0, p.rowBytes());
            for (int x = 0; x < w; ++x)
                if (a(y, x)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    } else if (colour) {
        const auto a = array.unchecked<uint8_t, 3>();
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            for (int x = 0; x < w; ++x) row[3 * x] = a(y, x, 2), row[3 * x + 1] = a(y, x, 1), row[3 * x + 2] = a(y, x, 0);
        }
    } else {
        const auto a = array.unchecked<uint8_t, 2>();
        for (int y = 0; y < h; ++y) {
            uint8_t* row = p.row(y);
            for (int x = 0; x < w; ++x) row[x] = a(y, x);
        }
    }
    return std::make_unique<PyPicture>(std::move(p));
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
    const int d = p.depth();
    if (d == 1) {
        py::array_t<bool> out({h, w});
        for (int y = 0; y < int(h); ++y) {
            const uint8_t* row = static_cast<const qel::Picture&>(p).row(y);
            for (int x = 0; x < int(w); ++x) out.mutable_at(y, x) = (row[x / 8] >> (7 - x % 8)) & 1;
        }
        return out;
    }
    py::array_t<uint8_t> out({h, w});
    for (int y = 0; y < int(h); ++y) {
        const uint8_t* row = static_cast<const qel::Picture&>(p).row(y);
        for (int x = 0; x < int(w); ++x) {
            const int bit = x * d;
            out.mutable_at(y, x) = uint8_t((row[bit / 8] >> (8 - d - bit % 8)) & ((1 << d) - 1));
        }
    }
    return out;
}

// One keyword of a method: an operation's value, one field of its record, or a group of fields
// given together as a tuple (area=(x, y, w, h)).
struct Param {
    std::string name;
    std::vector<size_t> fields;  // the record's fields it carries; empty for an Int or Text value
    qel::FieldInfo::Kind kind = qel::FieldInfo::Kind::Int;
    py::object initial;  // its default; None: the caller gives it
    std::string help;
};

const char* typeName(qel::FieldInfo::Kind kind) {
    using Kind = qel::FieldInfo::Kind;
    return kind == Kind::Int ? "int" : kind == Kind::Real ? "float" : kind == Kind::Text ? "str" : "bool";
}

py::object defaultOf(const qel::FieldInfo& f) {
    using Kind = qel::FieldInfo::Kind;
    switch (f.kind) {
    case Kind::Int: return py::int_(std::stoll(f.initial));
    case Kind::Real: return py::float_(std::stod(f.initial));
    case Kind::Text: return py::str(f.initial);
    case Kind::Flag: return py::bool_(false);
    }
    return py::none();
}

std::string rangeOf(const qel::FieldInfo& f) {
    if (f.kind != qel::FieldInfo::Kind::Int && f.kind != qel::FieldInfo::Kind::Real) return {};
    return " (" + py::str(py::float_(f.min).attr("__format__")("g")).cast<std::string>() + " to " +
           py::str(py::float_(f.max).attr("__format__")("g")).cast<std::string>() + ")";
}

// The keywords of an operation, from its declaration.
std::vector<Param> paramsOf(const qel::OperationInfo& op) {
    using Value = qel::OperationInfo::Value;
    std::vector<Param> params;
    if (op.value == Value::Int || op.value == Value::Text) {
        const auto kind = op.value == Value::Int ? qel::FieldInfo::Kind::Int : qel::FieldInfo::Kind::Text;
        std::string help = op.valueHelp.empty() ? "" : ": " + op.valueHelp;
        if (op.value == Value::Int) help += " (" + std::to_string(op.min) + " to " + std::to_string(op.max) + ")";
        params.push_back({op.keyword, {}, kind, py::none(), help});
    }
    for (size_t i = 0; i < op.fields.size();) {
        const qel::FieldInfo& f = op.fields[i];
        Param p{f.group.empty() ? f.name : f.group, {i}, f.kind, py::none(), ": " + f.help + rangeOf(f)};
        size_t end = i + 1;
        while (!f.group.empty() && end < op.fields.size() && op.fields[end].group == f.group) p.fields.push_back(end++);
        if (f.hasDefault) {
            if (f.group.empty()) {
                p.initial = defaultOf(f);
            } else {
                py::tuple t(p.fields.size());
                for (size_t k = 0; k < p.fields.size(); ++k) t[k] = defaultOf(op.fields[p.fields[k]]);
                p.initial = t;
            }
        }
        if (!f.group.empty()) {
            std::string names;
            for (size_t k : p.fields) names += (names.empty() ? "" : ", ") + op.fields[k].name;
            p.help = " = (" + names + ")" + p.help;
        }
        params.push_back(std::move(p));
        i = end;
    }
    return params;
}

std::string typeText(const Param& p) {
    if (p.fields.size() <= 1) return p.kind == qel::FieldInfo::Kind::Text && p.name == "file" ? "str | os.PathLike[str]" : typeName(p.kind);
    std::string t = "tuple[";
    for (size_t k = 0; k < p.fields.size(); ++k) t += std::string(k ? ", " : "") + typeName(p.kind);
    return t + "]";
}

// The docstring: the Python signature, the operation's help, each keyword with its range.
std::string docOf(const qel::OperationInfo& op, const std::vector<Param>& params) {
    std::string head = op.method + "(self";
    for (const Param& p : params) {
        head += ", " + p.name + ": " + typeText(p);
        if (!p.initial.is_none()) head += " = " + py::repr(p.initial).cast<std::string>();
    }
    head += op.number ? ") -> int" : op.reports ? ") -> str" : ") -> Picture";
    std::string doc = head + "\n\n" + op.help + ".\n";
    for (const Param& p : params) doc += "\n" + p.name + p.help;
    doc += op.reports ? std::string("\n\nReturns the ") + (op.number ? "number" : "text") + "; a refusal raises qel.Refused."
                      : std::string("\n\nReturns the picture, so calls chain; `changed` says whether it changed and `reason` why not")
                        + (op.notes ? ", `note` what it found" : "") + ".\nA refusal raises qel.Refused.";
    if (std::any_of(params.begin(), params.end(), [](const Param& p) { return p.name == "file"; }))
        doc += "\nA file that cannot be opened or written raises OSError (FileNotFoundError, PermissionError, ...).";
    return doc;
}

// One value given for a field, checked against the field's kind (the runner checks its range).
qel::FieldValue fieldValue(const std::string& method, const std::string& name, qel::FieldInfo::Kind kind, py::handle v) {
    using Kind = qel::FieldInfo::Kind;
    const bool isBool = py::isinstance<py::bool_>(v) || py::str(py::type::of(v).attr("__name__")).cast<std::string>() == "bool_";
    const auto wrong = [&](const char* want) {
        return py::type_error(method + "(): " + name + " must be " + want + ", not " + py::type::of(v).attr("__name__").cast<std::string>());
    };
    switch (kind) {
    case Kind::Int:
        if (isBool || !py::isinstance<py::int_>(v)) throw wrong("int");
        try {
            return v.cast<int64_t>();
        } catch (const py::cast_error&) {
            throw py::value_error(method + "(): " + name + " is out of range");
        }
    case Kind::Real:
        if (isBool || !(py::isinstance<py::float_>(v) || py::isinstance<py::int_>(v))) throw wrong("a number");
        return v.cast<double>();
    case Kind::Text:
        if (py::isinstance<py::str>(v)) return v.cast<std::string>();
        if (py::hasattr(v, "__fspath__")) return py::module_::import("os").attr("fsdecode")(v).cast<std::string>();
        throw wrong("str");
    case Kind::Flag:
        if (!isBool) throw wrong("True or False");
        return bool(py::bool_(py::reinterpret_borrow<py::object>(v)));
    }
    return {};
}

// The operation's value from a call's arguments, as its keywords say.
qel::OperationValue valueOf(const qel::OperationInfo& op, const std::vector<Param>& params, const py::args& args,
                            const py::kwargs& kwargs) {
    if (args.size() > params.size())
        throw py::type_error(op.method + "() takes " + std::to_string(params.size()) + " arguments, not " + std::to_string(args.size()));
    std::vector<py::object> given(params.size());
    for (size_t i = 0; i < args.size(); ++i) given[i] = args[i];
    for (const auto& [key, v] : kwargs) {
        const std::string k = py::str(key);
        size_t i = 0;
        while (i < params.size() && params[i].name != k) ++i;
        if (i == params.size()) throw py::type_error(op.method + "() got an unexpected keyword argument '" + k + "'");
        if (given[i]) throw py::type_error(op.method + "() got multiple values for argument '" + k + "'");
        given[i] = py::reinterpret_borrow<py::object>(v);
    }
    for (size_t i = 0; i < params.size(); ++i)
        if (!given[i] && params[i].initial.is_none())
            throw py::type_error(op.method + "() missing required argument '" + params[i].name + "'");
    using Value = qel::OperationInfo::Value;
    if (op.value == Value::Int) {
        const int64_t n = std::get<int64_t>(fieldValue(op.method, params[0].name, params[0].kind, given[0]));
        return int32_t(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));  // beyond: refused as out of range
    }
    if (op.value == Value::Text) return std::get<std::string>(fieldValue(op.method, params[0].name, params[0].kind, given[0]));
    if (op.value != Value::Record) return {};
    qel::Fields fields(op.fields.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (!given[i]) continue;
        const Param& p = params[i];
        if (p.fields.size() == 1) {
            fields[p.fields[0]] = fieldValue(op.method, p.name, p.kind, given[i]);
            continue;
        }
        const py::sequence seq = py::isinstance<py::sequence>(given[i]) && !py::isinstance<py::str>(given[i])
                                     ? py::reinterpret_borrow<py::sequence>(given[i]) : py::sequence();
        if (!seq || seq.size() != p.fields.size())
            throw py::type_error(op.method + "(): " + p.name + " must be " + std::to_string(p.fields.size()) + " values");
        for (size_t k = 0; k < p.fields.size(); ++k)
            fields[p.fields[k]] = fieldValue(op.method, op.fields[p.fields[k]].name, p.kind, seq[k]);
    }
    return fields;
}

// One method per listed operation that takes a picture, its keywords and docstring from the declaration.
void defineOperations(py::class_<PyPicture>& pic) {
    py::options options;
    options.disable_function_signatures();  // the docstring's first line is the Python signature
    for (const qel::OperationInfo& op : qel::listOperations()) {
        // info is the property of plain values below, not qel-batch's text.
        if (!op.needsPicture || op.name == "info") continue;
        auto params = std::make_shared<std::vector<Param>>(paramsOf(op));
        const std::string doc = docOf(op, *params);
        pic.def(op.method.c_str(), [&op, params](py::handle self, py::args args, py::kwargs kwargs) -> py::object {
            PyPicture& p = picture(self);
            const qel::OperationValue value = valueOf(op, *params, args, kwargs);
            std::ostringstream out;
            runOp(p, [&](qel::Picture& q) { return q.run(op.name, value, &out); });
            if (op.number) return py::int_(py::str(out.str()).attr("strip")());
            if (op.reports) return py::str(out.str());
            if (op.notes) p.note = py::str(out.str()).attr("strip")().cast<std::string>();
            return py::reinterpret_borrow<py::object>(self);  // calls chain: qel.open(f).to_256().thin()
        }, doc.c_str());
    }
}

// The bytes of a file in `format`, made without the GIL.
py::bytes toBytes(PyPicture& p, const std::string& format, int quality, int effort = 0) {
    std::vector<uint8_t> bytes;
    {
        py::gil_scoped_release release;
        std::lock_guard lock(p.busy);
        bytes = p.pic.toBytes(format, quality, effort);
    }
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A picture from bytes-like data.
std::unique_ptr<PyPicture> fromData(const py::handle& data) {
    const py::buffer_info view = py::reinterpret_borrow<py::buffer>(data).request();
    if (view.itemsize != 1 || view.ndim > 1 || (view.ndim == 1 && view.strides[0] != 1))
        throw py::type_error("picture bytes must be a contiguous bytes-like object");
    py::gil_scoped_release release;
    return std::make_unique<PyPicture>(qel::Picture::fromMemory(view.ptr, size_t(view.size)));
}

// A path given as str or os.PathLike, or nothing for anything else.
std::optional<std::string> pathOf(const py::handle& file) {
    if (py::isinstance<py::str>(file) || py::hasattr(file, "__fspath__"))
        return py::module_::import("os").attr("fsdecode")(file).cast<std::string>();
    return std::nullopt;
}

std::unique_ptr<PyPicture> openPicture(const py::object& file) {
    if (const auto path = pathOf(file)) {
        py::gil_scoped_release release;
        return std::make_unique<PyPicture>(qel::Picture::open(*path));
    }
    if (PyObject_CheckBuffer(file.ptr())) return fromData(file);
    if (py::hasattr(file, "read")) return fromData(file.attr("read")());
    throw py::type_error("qel.open takes a path, bytes-like data or a binary file object");
}

void save(py::handle self, const py::object& file, const py::object& format, std::optional<int> quality,
          std::optional<int> effort) {
    PyPicture& p = picture(self);
    const auto path = pathOf(file);
    if (path && format.is_none()) {
        py::gil_scoped_release release;
        std::lock_guard lock(p.busy);
        p.pic.save(*path, quality.value_or(0), effort.value_or(0));
        return;
    }
    // The format named, or the extension of the file's name (a path, or a file object's name).
    std::string kind = format.is_none() ? "" : format.cast<std::string>();
    if (kind.empty()) {
        const py::object name = path ? py::str(*path) : py::getattr(file, "name", py::none());
        const std::string n = py::isinstance<py::str>(name) ? name.cast<std::string>() : "";
        if (n.find('.') == std::string::npos) throw py::value_error("save: give format= for a file object without a name");
        kind = n.substr(n.rfind('.') + 1);
    }
    const py::bytes bytes = toBytes(p, kind, quality.value_or(0), effort.value_or(0));
    if (path) {
        // Written whole or not at all: a temporary beside the file, renamed over it.
        const std::string temporary = *path + ".qel-partial";
        py::module_::import("pathlib").attr("Path")(temporary).attr("write_bytes")(bytes);
        py::module_::import("os").attr("replace")(temporary, *path);
    } else if (py::hasattr(file, "write")) {
        file.attr("write")(bytes);
    } else {
        throw py::type_error("save takes a path or a binary file object");
    }
}

// An independent copy (Picture::copy), made without the interpreter.
std::unique_ptr<PyPicture> copyOf(PyPicture& p) {
    py::gil_scoped_release release;
    std::lock_guard lock(p.busy);
    return std::make_unique<PyPicture>(p.pic.copy());
}

}  // namespace

PYBIND11_MODULE(_qel, m) {
    m.doc() = "Qel's picture operations on numpy arrays.";
    static py::exception<Refused> refused(m, "Refused");
    py::register_exception_translator([](std::exception_ptr e) {
        try {
            if (e) std::rethrow_exception(e);
        } catch (const Refused& r) {
            refused(r.what());
        } catch (const qel::Error& err) {
            // OSError(errno, text, file) becomes its subclass (FileNotFoundError, PermissionError, ...)
            // and names the file itself.
            std::string text = err.what();
            if (!err.file().empty() && text.rfind(err.file() + ": ", 0) == 0) text.erase(0, err.file().size() + 2);
            py::object error = err.code() ? py::reinterpret_borrow<py::object>(PyExc_OSError)(err.code(), text, err.file())
                                          : py::reinterpret_borrow<py::object>(PyExc_OSError)(text);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
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
        .def_property_readonly("info", [](py::handle self_) {
            PyPicture& p = picture(self_);
            std::lock_guard lock(p.busy);
            py::dict facts;
            facts["width"] = p.pic.width();
            facts["height"] = p.pic.height();
            facts["depth"] = p.pic.depth();
            facts["pixel_bytes"] = p.pic.rowBytes() * size_t(std::max(p.pic.height(), 0));
            facts["colours"] = py::int_(1ULL << std::clamp(p.pic.depth(), 0, 32));
            facts["format"] = p.pic.fileFormat();
            return facts;
        }, "a dict: width, height, depth (bits per pixel), pixel_bytes (rows padded to 4 bytes), colours "
           "(of the depth) and format (of the file read: 'BMP', 'PNG', ...; '' for a picture made otherwise)")
        .def_property_readonly("changed", [](py::handle self_) { return picture(self_).changed; },
                               "whether the last operation changed the picture")
        .def_property_readonly("reason", [](py::handle self_) { return picture(self_).reason; },
                               "why the last operation changed nothing (empty after a change)")
        .def_property_readonly("note", [](py::handle self_) { return picture(self_).note; },
                               "what the last operation found, for one that notes it (deskew: the tilt in degrees, "
                               "anticlockwise positive, as \"2.95\"); empty otherwise")
        .def("__array__", [](py::handle self_, py::object) { PyPicture& self = picture(self_); return toArray(self); }, py::arg("dtype") = py::none())
        .def("save", &save, py::arg("file"), py::arg("format") = py::none(), py::arg("quality") = py::none(),
             py::arg("effort") = py::none(),
             "Writes the picture to a path (str or os.PathLike) or a binary file object, in the format named\n"
             "(bmp, png, jpg, tif, webp) or else the file name's extension; quality 1-100 for JPEG or lossy WebP,\n"
             "effort 1 (fastest) - 9 (smallest) for PNG (default 7).")
        .def("to_bytes", [](py::handle self_, const std::string& format, std::optional<int> quality, std::optional<int> effort) {
            PyPicture& p = picture(self_);
            return toBytes(p, format, quality.value_or(0), effort.value_or(0));
        }, py::arg("format"), py::arg("quality") = py::none(), py::arg("effort") = py::none(),
           "The bytes of the file save() would write in that format.")
        .def("copy", [](py::handle self_) { return copyOf(picture(self_)); }, "An independent copy of the picture.")
        .def("__copy__", [](py::handle self_) { return copyOf(picture(self_)); })
        .def("__deepcopy__", [](py::handle self_, py::object) { return copyOf(picture(self_)); }, py::arg("memo"))
        .def("__repr__", [](py::handle self_) {
            PyPicture& p = picture(self_);
            return "<qel.Picture " + std::to_string(p.pic.width()) + "x" + std::to_string(p.pic.height()) + " " +
                   std::to_string(p.pic.depth()) + "-bit" + (p.pic.thinned() ? " thinned" : "") + ">";
        })
        .def(py::pickle(
            [](py::handle self_) {
                PyPicture& p = picture(self_);
                return py::make_tuple(toBytes(p, "bmp", 0), p.pic.thinned());
            },
            [](const py::tuple& state) {
                if (state.size() != 2) throw py::value_error("not the state of a qel.Picture");
                auto p = fromData(state[0]);
                p->pic.setThinned(state[1].cast<bool>());
                return p;
            }));
    defineOperations(pic);

    m.def("open", &openPicture, py::arg("file"),
          "Reads a BMP, PNG, JPEG, TIFF, WebP or GIF picture from a path (str or os.PathLike), bytes-like\n"
          "data or a binary file object; the format is recognised by content.");
    m.def("from_bytes", &fromData, py::arg("data"), "A picture from the bytes of a picture file (bytes-like).");
    m.def("calc", [](const std::string& formula) { return qel::calc(formula); }, py::arg("formula"),
          "The calculator's answer for the formula, as text (x=3.141592, y=2.718282, z=0).");
    m.attr("__version__") = qel::version();
}
