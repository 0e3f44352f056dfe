// Writes what follows from the operations' declarations, at build time: the library's typed
// functions (a function of qel::Picture per operation, its value as parameters, a record of grouped
// fields as an Args struct) and qel-batch's manual page with an entry per operation, so a new
// operation needs no hand-written facade code or manual entry.
//
//     qel-make-facade OUT_DIR [MAN_TEMPLATE]
//         writes OUT_DIR/include/qel/operation_args.h, OUT_DIR/include/qel/picture_operations.inc,
//         OUT_DIR/picture_operations.cpp and, from the template's @OPERATIONS@ line, OUT_DIR/qel-batch.1
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ops/operation.h"

namespace {

using qel::Operation;
using qel::OperationArg;
using qel::OperationField;
using FieldKind = OperationField::Kind;

// "black-white" -> "blackWhite"; `upper` capitalises the first letter too ("copy_from" -> "CopyFrom").
std::string camel(const std::string& name, bool upper = false) {
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_') {
            upper = true;
        } else {
            out += upper ? char(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        }
    }
    return out;
}

std::string bindingName(const Operation& op) { return op.binding ? op.binding : op.name; }

std::string keyword(const Operation& op) {
    if (*op.arg.keyword) return op.arg.keyword;
    std::string k;
    for (const char* c = op.arg.valueName; *c; ++c) k += char(std::tolower(static_cast<unsigned char>(*c)));
    return k;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string valueType(FieldKind kind) {
    switch (kind) {
    case FieldKind::Int: return "int32_t";
    case FieldKind::Real: return "double";
    case FieldKind::Text: return "std::string";
    case FieldKind::Flag: return "bool";
    }
    return {};
}

std::string defaultOf(const OperationField& f) {
    if (f.kind == FieldKind::Flag) return "false";
    if (f.kind == FieldKind::Text) return quoted(f.initial);
    return f.initial;
}

// A field's value as the runner takes it.
std::string fieldValue(const OperationField& f, const std::string& expr) {
    switch (f.kind) {
    case FieldKind::Int: return "FieldValue(int64_t(" + expr + "))";
    case FieldKind::Real: return "FieldValue(double(" + expr + "))";
    case FieldKind::Text: return "FieldValue(std::string(" + expr + "))";
    case FieldKind::Flag: return "FieldValue(bool(" + expr + "))";
    }
    return {};
}

bool grouped(const Operation& op) {
    for (const OperationField& f : op.arg.fields)
        if (f.group) return true;
    return false;
}

std::string rangeText(const OperationField& f) {
    std::ostringstream s;
    if (f.kind == FieldKind::Int || f.kind == FieldKind::Real) s << " (" << f.min << " to " << f.max << ")";
    return s.str();
}

// What an operation does in the library's words: its values go by their names.
std::string docOf(const Operation& op) { return op.doc ? op.doc : op.help; }

struct Facade {
    std::ostringstream args, declarations, definitions;

    void record(const Operation& op) {
        const std::string name = camel(bindingName(op)), args_type = camel(bindingName(op), true) + "Args";
        const auto& fields = op.arg.fields;
        std::vector<std::string> values;
        if (grouped(op)) {
            args << "// The values of Picture::" << name << "(): " << docOf(op) << ".\nstruct " << args_type << " {\n";
            for (size_t i = 0; i < fields.size();) {
                const OperationField& f = fields[i];
                if (!f.group) {
                    args << "    " << valueType(f.kind) << " " << camel(f.name);
                    if (f.initial) args << " = " << defaultOf(f);
                    args << ";  // " << f.help << rangeText(f) << "\n";
                    values.push_back(fieldValue(f, "a." + camel(f.name)));
                    ++i;
                    continue;
                }
                size_t end = i;
                std::string initial, help;
                while (end < fields.size() && fields[end].group && std::string(fields[end].group) == f.group) {
                    initial += std::string(end > i ? ", " : "") + defaultOf(fields[end]);
                    help += std::string(end > i ? ", " : "") + fields[end].name;
                    values.push_back(fieldValue(fields[end], "a." + camel(f.group) + "[" + std::to_string(end - i) + "]"));
                    ++end;
                }
                args << "    std::array<" << valueType(f.kind) << ", " << end - i << "> " << camel(f.group) << "{" << initial
                     << "};  // " << help << ": " << f.help << rangeText(f) << "\n";
                i = end;
            }
            args << "};\n\n";
            declarations << "    // " << docOf(op) << "\n    OpResult " << name << "(const " << args_type << "& args = {});\n";
            definitions << "OpResult Picture::" << name << "(const " << args_type << "& a) {\n";
        } else {
            std::ostringstream params, named;
            declarations << "    // " << docOf(op) << "\n";
            for (size_t i = 0; i < fields.size(); ++i) {
                const OperationField& f = fields[i];
                const std::string type = f.kind == FieldKind::Text ? "const std::string&" : valueType(f.kind);
                params << (i ? ", " : "") << type << " " << camel(f.name);
                named << (i ? ", " : "") << type << " " << camel(f.name);
                if (f.initial) params << " = " << defaultOf(f);
                declarations << "    //   " << camel(f.name) << ": " << f.help << rangeText(f) << "\n";
                values.push_back(fieldValue(f, camel(f.name)));
            }
            declarations << "    OpResult " << name << "(" << params.str() << ");\n";
            definitions << "OpResult Picture::" << name << "(" << named.str() << ") {\n";
        }
        definitions << "    return run(" << quoted(op.name) << ", Fields{";
        for (size_t i = 0; i < values.size(); ++i) definitions << (i ? ", " : "") << values[i];
        definitions << "});\n}\n\n";
    }

    void operation(const Operation& op) {
        if (op.standalone) return;  // no picture: a free function (qel::calc)
        if (op.arg.kind == OperationArg::Kind::Record) return record(op);
        const std::string name = camel(bindingName(op));
        std::string params, value = "{}";
        if (op.reports) params = "std::ostream& out";
        if (op.notes) params = "std::ostream* note";
        if (op.arg.kind == OperationArg::Kind::Int) {
            params += (params.empty() ? "" : ", ") + std::string("int32_t ") + camel(keyword(op));
            value = "OperationValue(int32_t(" + camel(keyword(op)) + "))";
        } else if (op.arg.kind == OperationArg::Kind::Text) {
            params += (params.empty() ? "" : ", ") + std::string("const std::string& ") + camel(keyword(op));
            value = "OperationValue(std::string(" + camel(keyword(op)) + "))";
        }
        std::string help = docOf(op);
        if (op.arg.kind != OperationArg::Kind::None) help += "\n    //   " + camel(keyword(op)) + ": " + op.arg.help;
        if (op.arg.kind == OperationArg::Kind::Int)
            help += " (" + std::to_string(op.arg.min) + " to " + std::to_string(op.arg.max) + ")";
        declarations << "    // " << help << (op.reports ? "; the answer goes to `out`" : op.notes ? "; the note goes to `note` when given" : "") << "\n";
        declarations << "    OpResult " << name << "(" << params << (op.notes ? " = nullptr" : "") << ");\n";
        definitions << "OpResult Picture::" << name << "(" << params << ") { return run(" << quoted(op.name) << ", "
                    << value << (op.reports ? ", &out" : op.notes ? ", note" : "") << "); }\n\n";
    }
};

// The manual page's entry of an operation: ".BR \-\-black\-white =\fIT\fR" (an optional value
// "[=\fIW,K\fR]") and its help.
std::string manEntry(const Operation& op) {
    std::string name = "\\-\\-";
    for (const char* c = op.name; *c; ++c) name += *c == '-' ? std::string("\\-") : std::string(1, *c);
    if (op.arg.kind == OperationArg::Kind::None) return ".TP\n.B " + name + "\n" + op.help + "\n";
    const char* open = op.arg.optional ? " [=\\fI" : " =\\fI";
    return ".TP\n.BR " + name + open + op.arg.valueName + (op.arg.optional ? "\\fR]\n" : "\\fR\n") + op.help + "\n";
}

bool write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    // Rewritten only when it changes, so a build does not recompile what includes it for nothing.
    std::ifstream old(path, std::ios::binary);
    std::ostringstream was;
    was << old.rdbuf();
    if (old && was.str() == text) return true;
    old.close();
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: qel-make-facade OUT_DIR [MAN_TEMPLATE]\n";
        return 1;
    }
    Facade f;
    std::string entries;
    for (const Operation* op : qel::operations()) {
        f.operation(*op);
        entries += manEntry(*op);
    }
    const std::string made = "// Made by qel-make-facade from the operations' declarations; not edited by hand.\n";
    const std::filesystem::path out = argv[1];
    const bool ok =
        write(out / "include/qel/operation_args.h",
              made + "#pragma once\n\n#include <array>\n#include <cstdint>\n#include <string>\n\nnamespace qel {\n\n" +
                  f.args.str() + "}  // namespace qel\n") &&
        write(out / "include/qel/picture_operations.inc", made + f.declarations.str()) &&
        write(out / "picture_operations.cpp",
              made + "#include <qel/qel.h>\n\nnamespace qel {\n\n" + f.definitions.str() + "}  // namespace qel\n");
    bool manual = true;
    if (argc == 3) {
        std::ifstream in(argv[2], std::ios::binary);
        std::ostringstream page;
        page << in.rdbuf();
        std::string text = page.str();
        const auto at = text.find("@OPERATIONS@\n");
        manual = in && at != std::string::npos && write(out / "qel-batch.1", text.replace(at, 13, entries));
        if (!manual) std::cerr << "qel-make-facade: " << argv[2] << " cannot be read or has no @OPERATIONS@ line\n";
    }
    if (!ok) std::cerr << "qel-make-facade: cannot write into " << out << "\n";
    return ok && manual ? 0 : 1;
}
