#include "core/ops/runner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <utility>

namespace qel {

namespace {

using Kind = OperationArg::Kind;
using FieldKind = OperationField::Kind;

struct Refusal {
    RunStage stage;
    std::string text;
};
using Checked = std::optional<Refusal>;

std::string nameOf(const Operation& op, const RunRequest& r) { return r.optionPrefix + std::string(op.name); }

std::string numberText(double v) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::to_string(v);
}

// The pattern with its placeholders filled in.
std::string fill(std::string text, std::initializer_list<std::pair<const char*, std::string>> fills) {
    for (const auto& [key, with] : fills)
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + with.size()))
            text.replace(at, std::string_view(key).size(), with);
    return text;
}

// Why the operation's rule keeps it from this picture, or nothing.
Checked ruleRefusal(const Operation& op, const RunRequest& r) {
    if (op.rule == cmd::Rule::Always) return std::nullopt;
    const std::string name = nameOf(op, r);
    if (!r.image.hasPicture()) return Refusal{RunStage::Rule, name + ": " + kNoPicture};
    const int d = r.image.bitCount();
    if (cmd::isEnabled(op.rule, {.documentWindow = true, .picture = true, .depth = d, .thinned = r.state.thinned}))
        return std::nullopt;
    const std::vector<int> depths = cmd::depthsAccepted(op.rule);
    if (std::find(depths.begin(), depths.end(), d) != depths.end())
        return Refusal{RunStage::Rule, name + " needs a thinned picture: run " + r.optionPrefix + "thin or " +
                                           r.optionPrefix + "tidy2 first"};
    std::string list;
    for (int want : depths) list += (list.empty() ? "" : " or ") + std::to_string(want);
    return Refusal{RunStage::Rule, name + " needs a " + list + "-bit picture; " + r.pictureName + " is " + std::to_string(d) + "-bit"};
}

template <class T>
bool parseWhole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && !text.empty();
}

// The refusal of field i's value, its placeholders filled in.
std::string fieldRefusal(const char* pattern, const std::string& option, const OperationField& f, const std::string& value,
                         const std::string& group, std::string_view whole) {
    return fill(pattern, {{"{option}", option}, {"{value}", value}, {"{group}", group}, {"{text}", std::string(whole)},
                          {"{min}", numberText(f.min)}, {"{max}", numberText(f.max)}});
}

// Reads one field's text; the refusal, or "".
std::string readField(const OperationField& f, const std::string& text, FieldValue& value, const std::string& option,
                      const std::string& group, std::string_view whole) {
    const auto refuse = [&](const char* pattern) { return fieldRefusal(pattern, option, f, text, group, whole); };
    const char* notNumber = f.notNumber ? f.notNumber : f.outOfRange;
    switch (f.kind) {
    case FieldKind::Int: {
        int32_t n = 0;
        if (!parseWhole(text, n)) return refuse(notNumber);
        if (n < f.min || n > f.max) return refuse(f.outOfRange);
        value = int64_t(n);
        return {};
    }
    case FieldKind::Real: {
        double v = 0;
        if (f.readReal) {
            switch (f.readReal(text, v)) {
            case OperationField::Read::Ok: break;
            case OperationField::Read::NotNumber: return refuse(notNumber);
            case OperationField::Read::OutOfRange: return refuse(f.outOfRange);
            }
        } else {
            float single = 0;  // the precision the operations compute in
            if (!parseWhole(text, single)) return refuse(notNumber);
            v = single;
        }
        if (!(v >= f.min && v <= f.max)) return refuse(f.outOfRange);
        value = v;
        return {};
    }
    case FieldKind::Text:
        if (f.max > 0 && text.size() > size_t(f.max)) return refuse(f.outOfRange);
        if (f.valid && !f.valid(text)) return refuse(f.invalid);
        value = text;
        return {};
    case FieldKind::Flag:
        if (text == f.word) value = true;
        else if (f.offWord && text == f.offWord) value = false;
        else return refuse(f.invalid);
        return {};
    }
    return {};
}

// The defaults of fields not given.
std::string fillDefaults(const Operation& op, FieldValues& values, const std::string& option) {
    const auto& fields = op.arg.fields;
    values.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!std::holds_alternative<std::monostate>(values[i])) continue;
        const OperationField& f = fields[i];
        if (!f.initial) return option + " needs its " + f.name;
        if (f.kind == FieldKind::Flag) {
            values[i] = false;
        } else if (*f.initial) {
            if (std::string why = readField(f, f.initial, values[i], option, f.initial, f.initial); !why.empty()) return why;
        }
    }
    return {};
}

// Typed field values: each of its field's kind and within its range.
std::string checkFields(const Operation& op, FieldValues& values, const std::string& option) {
    const auto& fields = op.arg.fields;
    if (values.size() > fields.size())
        return option + " takes " + std::to_string(fields.size()) + " values, not " + std::to_string(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const OperationField& f = fields[i];
        FieldValue& v = values[i];
        if (std::holds_alternative<std::monostate>(v)) continue;
        if (f.kind == FieldKind::Real && std::holds_alternative<int64_t>(v)) v = double(std::get<int64_t>(v));
        const bool kindFits = (f.kind == FieldKind::Int && std::holds_alternative<int64_t>(v)) ||
                              (f.kind == FieldKind::Real && std::holds_alternative<double>(v)) ||
                              (f.kind == FieldKind::Text && std::holds_alternative<std::string>(v)) ||
                              (f.kind == FieldKind::Flag && std::holds_alternative<bool>(v));
        if (!kindFits) return option + ": " + f.name + " is of the wrong kind";
        const std::string text = fieldText(f, v);
        const auto refuse = [&](const char* pattern) { return fieldRefusal(pattern, option, f, text, text, text); };
        if (f.kind == FieldKind::Int) {
            const int64_t n = std::get<int64_t>(v);
            if (n < f.min || n > f.max) return refuse(f.outOfRange);
        } else if (f.kind == FieldKind::Real) {
            const double d = std::get<double>(v);
            if (!(d >= f.min && d <= f.max)) return refuse(f.outOfRange);
            v = double(float(d));  // the precision the operations compute in, as the text form reads it
        } else if (f.kind == FieldKind::Text) {
            const auto& t = std::get<std::string>(v);
            if (f.max > 0 && t.size() > size_t(f.max)) return refuse(f.outOfRange);
            if (f.valid && !f.valid(t)) return refuse(f.invalid);
        }
    }
    return fillDefaults(op, values, option);
}

// The value an Int operation takes from its text.
Checked readInt(const Operation& op, std::string_view text, std::any& value, const std::string& name) {
    int32_t n = 0;
    const bool number = parseWhole(text, n);
    if (number && n >= op.arg.min && n <= op.arg.max) {
        value = n;
        return std::nullopt;
    }
    const char* pattern = !number && op.arg.notNumber ? op.arg.notNumber : op.arg.outOfRange;
    return Refusal{RunStage::Value, fill(pattern, {{"{option}", name}, {"{value}", std::string(text)},
                                                   {"{min}", std::to_string(op.arg.min)}, {"{max}", std::to_string(op.arg.max)}})};
}

// A record's text form cut and read into field values, the rule checked after the cut when `afterSplit` is given.
Checked readRecord(const Operation& op, std::string_view text, FieldValues& values, const std::string& name,
                   const std::function<Checked()>& afterSplit) {
    if (!op.arg.split) return Refusal{RunStage::Value, name + " takes no record"};
    std::vector<std::string> texts, groups;
    if (std::string why = op.arg.split(text, texts, groups); !why.empty())
        return Refusal{RunStage::Value, fill(why, {{"{option}", name}, {"{text}", std::string(text)}})};
    if (afterSplit)
        if (Checked why = afterSplit()) return why;
    values.assign(op.arg.fields.size(), std::monostate{});
    for (size_t i = 0; i < texts.size() && i < values.size(); ++i) {
        const std::string& group = i < groups.size() ? groups[i] : texts[i];
        if (std::string why = readField(op.arg.fields[i], texts[i], values[i], name, group, text); !why.empty())
            return Refusal{RunStage::Value, why};
    }
    if (std::string why = fillDefaults(op, values, name); !why.empty()) return Refusal{RunStage::Value, why};
    return std::nullopt;
}

// The settings record from checked field values.
Checked build(const Operation& op, const FieldValues& values, const RunRequest& r, std::any& value) {
    if (!op.arg.build) return Refusal{RunStage::Value, nameOf(op, r) + " has no settings record"};
    if (std::string why = op.arg.build(values, r.image, value); !why.empty())
        return Refusal{RunStage::Operation, nameOf(op, r) + ": " + why};
    return std::nullopt;
}

// Runs an operation whose value is ready and whose rule held.
RunResult run(const Operation& op, std::any value, RunRequest& r) {
    const std::function<void()> snapshot = r.snapshot ? r.snapshot : [&image = r.image] { image.stampSizeImage(); };
    RandomScope scope(r.state.random);
    ++r.state.index;
    OperationRun call{.image = r.image, .value = std::move(value), .out = r.out, .snapshot = snapshot,
                      .familyState = &r.state.familyState, .index = r.state.index};
    if (op.snapshot) snapshot();
    OpResult done = op.run(call);
    if (done.isRefused()) {
        done.reason = nameOf(op, r) + ": " + done.reason;
        return {std::move(done), RunStage::Operation};
    }
    if (op.thinned != cmd::Thinned::Keep) r.state.thinned = op.thinned == cmd::Thinned::Set;
    return {std::move(done), RunStage::Ran};
}

RunResult refused(const Refusal& why) { return {OpResult::refused(why.text), why.stage}; }

}  // namespace

std::string fieldText(const OperationField& field, const FieldValue& value) {
    if (const auto* n = std::get_if<int64_t>(&value)) return std::to_string(*n);
    if (const auto* d = std::get_if<double>(&value)) return numberText(*d);
    if (const auto* t = std::get_if<std::string>(&value)) return *t;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? field.word : field.offWord ? field.offWord : "";
    return {};
}

std::string readValue(const Operation& op, std::string_view text, const DibImage& image, std::any& value) {
    PictureState state;
    RunRequest r{.image = const_cast<DibImage&>(image), .state = state};
    const std::string name = nameOf(op, r);
    Checked why;
    switch (op.arg.kind) {
    case Kind::None: value.reset(); break;
    case Kind::Text: value = std::string(text); break;
    case Kind::Int: why = readInt(op, text, value, name); break;
    case Kind::Record: {
        FieldValues values;
        why = readRecord(op, text, values, name, nullptr);
        if (!why) why = build(op, values, r, value);
        break;
    }
    }
    return why ? why->text : std::string();
}

RunResult runOperationText(const Operation& op, std::string_view text, RunRequest& r) {
    const std::string name = nameOf(op, r);
    std::any value;
    switch (op.arg.kind) {
    case Kind::None: break;
    case Kind::Text: value = std::string(text); break;
    case Kind::Int:
        if (Checked why = readInt(op, text, value, name)) return refused(*why);
        break;
    case Kind::Record: {
        using Check = OperationArg::RuleCheck;
        const std::function<Checked()> rule = [&] { return ruleRefusal(op, r); };
        if (op.arg.ruleCheck == Check::BeforeSplit)
            if (Checked why = rule()) return refused(*why);
        FieldValues values;
        if (Checked why = readRecord(op, text, values, name, op.arg.ruleCheck == Check::AfterSplit ? rule : std::function<Checked()>()))
            return refused(*why);
        if (Checked why = rule()) return refused(*why);
        if (Checked why = build(op, values, r, value)) return refused(*why);
        return run(op, std::move(value), r);
    }
    }
    if (Checked why = ruleRefusal(op, r)) return refused(*why);
    return run(op, std::move(value), r);
}

RunResult runOperation(const Operation& op, std::any value, RunRequest& r) {
    const std::string name = nameOf(op, r);
    switch (op.arg.kind) {
    case Kind::None: value.reset(); break;
    case Kind::Int: {
        const auto* n = std::any_cast<int32_t>(&value);
        if (!n) return refused({RunStage::Value, name + " needs a whole number"});
        if (*n < op.arg.min || *n > op.arg.max)
            return refused({RunStage::Value, fill(op.arg.outOfRange, {{"{option}", name}, {"{value}", std::to_string(*n)},
                                                                      {"{min}", std::to_string(op.arg.min)},
                                                                      {"{max}", std::to_string(op.arg.max)}})});
        break;
    }
    case Kind::Text:
        if (!std::any_cast<std::string>(&value)) return refused({RunStage::Value, name + " needs text"});
        break;
    case Kind::Record:
        if (auto* fields = std::any_cast<FieldValues>(&value)) {
            FieldValues values = std::move(*fields);
            if (std::string why = checkFields(op, values, name); !why.empty()) return refused({RunStage::Value, why});
            if (Checked why = ruleRefusal(op, r)) return refused(*why);
            if (Checked why = build(op, values, r, value)) return refused(*why);
            return run(op, std::move(value), r);
        }
        break;  // the family's settings record, as a dialog collected it
    }
    if (Checked why = ruleRefusal(op, r)) return refused(*why);
    return run(op, std::move(value), r);
}

}  // namespace qel
