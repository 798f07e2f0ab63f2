#include "automation/trace_reader.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>

namespace automation::trace {

namespace {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool flag = false;
    std::string text; // a string's text, or a number's literal
    std::vector<Json> items;
    // Keys and values apart: a pair holding the still incomplete Json is not allowed.
    std::vector<std::string> keys;
    std::vector<Json> values;

    const Json* find(std::string_view key) const {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key)
                return &values[i];
        return nullptr;
    }
};

class Parser {
public:
    explicit Parser(std::string_view input) : s_(input) {}

    Json document() {
        Json value = parseValue(0);
        skipSpace();
        if (pos_ != s_.size())
            fail("unexpected text after the value");
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw TraceFormatError(what + " at column " + std::to_string(pos_ + 1), 0);
    }

    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n'))
            ++pos_;
    }

    bool consume(std::string_view word) {
        if (s_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    Json parseValue(int depth) {
        if (depth > 64)
            fail("nesting too deep");
        skipSpace();
        if (pos_ >= s_.size())
            fail("value expected");
        Json value;
        const char c = s_[pos_];
        if (c == '{') {
            value.kind = Json::Object;
            ++pos_;
            skipSpace();
            if (consume("}"))
                return value;
            for (;;) {
                skipSpace();
                if (pos_ >= s_.size() || s_[pos_] != '"')
                    fail("key expected");
                std::string key = parseString();
                skipSpace();
                if (!consume(":"))
                    fail("':' expected");
                Json member = parseValue(depth + 1);
                value.keys.push_back(std::move(key));
                value.values.push_back(std::move(member));
                skipSpace();
                if (consume("}"))
                    return value;
                if (!consume(","))
                    fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            value.kind = Json::Array;
            ++pos_;
            skipSpace();
            if (consume("]"))
                return value;
            for (;;) {
                value.items.push_back(parseValue(depth + 1));
                skipSpace();
                if (consume("]"))
                    return value;
                if (!consume(","))
                    fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            value.kind = Json::String;
            value.text = parseString();
            return value;
        }
        if (consume("true")) {
            value.kind = Json::Bool;
            value.flag = true;
            return value;
        }
        if (consume("false")) {
            value.kind = Json::Bool;
            return value;
        }
        if (consume("null"))
            return value;
        if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = Json::Number;
            const size_t start = pos_;
            if (s_[pos_] == '-')
                ++pos_;
            while (pos_ < s_.size() &&
                   ((s_[pos_] >= '0' && s_[pos_] <= '9') || s_[pos_] == '.' || s_[pos_] == 'e' ||
                    s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-'))
                ++pos_;
            value.text = std::string(s_.substr(start, pos_ - start));
            return value;
        }
        fail("value expected");
    }

    unsigned hex4() {
        if (pos_ + 4 > s_.size())
            fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = s_[pos_++];
            v <<= 4;
            if (h >= '0' && h <= '9')
                v |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
                v |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                v |= static_cast<unsigned>(h - 'A' + 10);
            else
                fail("bad \\u escape");
        }
        return v;
    }

    std::string parseString() {
        ++pos_; // opening quote
        std::string out;
        for (;;) {
            if (pos_ >= s_.size())
                fail("unterminated text");
            const char c = s_[pos_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                fail("control character in text");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t code = hex4();
                if (code >= 0xD800 && code <= 0xDBFF && consume("\\u")) {
                    const uint32_t low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("bad surrogate pair");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code <= 0xDFFF) {
                    code = 0xFFFD;
                }
                AppendUtf8(out, code);
                break;
            }
            default:
                fail("bad escape");
            }
        }
    }

    std::string_view s_;
    size_t pos_ = 0;
};

[[noreturn]] void bad(const std::string& what) {
    throw TraceFormatError(what, 0);
}

int64_t toInteger(const Json& value, const char* what) {
    if (value.kind != Json::Number)
        bad(std::string(what) + ": integer expected");
    int64_t result = 0;
    const char* first = value.text.data();
    const char* last = first + value.text.size();
    const auto [end, ec] = std::from_chars(first, last, result);
    if (ec != std::errc() || end != last)
        bad(std::string(what) + ": integer expected, got " + value.text);
    return result;
}

double toDouble(const Json& value, const char* what) {
    if (value.kind == Json::String) {
        if (value.text == "NaN")
            return std::numeric_limits<double>::quiet_NaN();
        if (value.text == "Infinity")
            return std::numeric_limits<double>::infinity();
        if (value.text == "-Infinity")
            return -std::numeric_limits<double>::infinity();
    }
    if (value.kind != Json::Number)
        bad(std::string(what) + ": number expected");
    double result = 0;
    const char* first = value.text.data();
    const char* last = first + value.text.size();
    const auto [end, ec] = std::from_chars(first, last, result);
    if (ec != std::errc() || end != last)
        bad(std::string(what) + ": number expected, got " + value.text);
    return result;
}

TracedArg toArg(const Json& json) {
    if (json.kind != Json::Object)
        bad("argument must be an object");
    const Json* type = json.find("type");
    const Json* value = json.find("value");
    if (!type || type->kind != Json::String)
        bad("argument without a type");
    if (!value)
        bad("argument without a value");
    TracedArg arg;
    arg.type = type->text;
    const std::string& t = arg.type;
    const bool null = value->kind == Json::Null;
    if (t == "int" || t == "cur") {
        arg.value = toInteger(*value, t.c_str());
    } else if (t == "dbl") {
        arg.value = toDouble(*value, "dbl");
    } else if (t == "&dbl") {
        if (!null)
            arg.value = toDouble(*value, "&dbl");
    } else if (t == "bool") {
        if (value->kind != Json::Bool)
            bad("bool: true or false expected");
        arg.value = value->flag;
    } else if (t == "str") {
        if (!null) {
            if (value->kind != Json::String)
                bad("str: text or null expected");
            arg.value = value->text;
        }
    } else if (t == "disp" || t == "&disp") {
        if (!null)
            arg.value = toInteger(*value, t.c_str());
    } else if (t == "empty") {
        if (!null)
            bad("empty: null expected");
    } else {
        bad("unknown argument type '" + t + "'");
    }
    return arg;
}

CallKind toKind(const std::string& name) {
    if (name == "method")
        return CallKind::Method;
    if (name == "get")
        return CallKind::Get;
    if (name == "put")
        return CallKind::Put;
    if (name == "method-or-get")
        return CallKind::MethodOrGet;
    bad("unknown call kind '" + name + "'");
}

} // namespace

int64_t TracedArg::integer() const {
    if (const auto* v = std::get_if<int64_t>(&value))
        return *v;
    return 0;
}

double TracedArg::number() const {
    if (const auto* v = std::get_if<double>(&value))
        return *v;
    if (const auto* v = std::get_if<int64_t>(&value))
        return type == "cur" ? static_cast<double>(*v) / 10000.0 : static_cast<double>(*v);
    return 0.0;
}

bool TracedArg::boolean() const {
    const auto* v = std::get_if<bool>(&value);
    return v && *v;
}

const std::string& TracedArg::text() const {
    static const std::string empty;
    const auto* v = std::get_if<std::string>(&value);
    return v ? *v : empty;
}

bool TracedArg::isValueType() const {
    return type == "int" || type == "dbl" || type == "cur" || type == "bool" || type == "str" ||
           type == "empty";
}

Variant TracedArg::toVariant() const {
    if (type == "int") {
        const int64_t v = integer();
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
            throw TraceFormatError("int out of range", 0);
        return Variant::fromInt(static_cast<int32_t>(v));
    }
    if (type == "dbl")
        return Variant::fromDouble(number());
    if (type == "cur")
        return Variant::fromCurrency(CY{integer()});
    if (type == "bool")
        return Variant::fromBool(boolean());
    if (type == "str")
        return isNull() ? Variant::fromBStr(BStr()) : Variant::fromBStr(BStr(fromUtf8(text())));
    if (type == "empty")
        return Variant();
    throw std::logic_error("a " + type + " argument refers to the caller's objects or storage");
}

TracedCall ParseTraceLine(std::string_view line) {
    const Json json = Parser(line).document();
    if (json.kind != Json::Object)
        bad("a line must hold one object");
    TracedCall call;
    const Json* object = json.find("object");
    if (!object)
        bad("no \"object\"");
    if (object->kind != Json::Null)
        call.object = static_cast<long>(toInteger(*object, "object"));
    const Json* member = json.find("member");
    if (!member || member->kind != Json::String)
        bad("no \"member\"");
    call.member = member->text;
    const Json* kind = json.find("kind");
    if (!kind || kind->kind != Json::String)
        bad("no \"kind\"");
    call.kind = toKind(kind->text);
    const Json* args = json.find("args");
    if (!args || args->kind != Json::Array)
        bad("no \"args\"");
    for (const Json& item : args->items)
        call.args.push_back(toArg(item));
    const Json* result = json.find("result");
    const Json* error = json.find("error");
    if ((result != nullptr) == (error != nullptr))
        bad("a line needs exactly one of \"result\" and \"error\"");
    if (result) {
        if (result->kind != Json::String)
            bad("\"result\" must be a type name");
        call.result = result->text;
    } else {
        if (error->kind != Json::String)
            bad("\"error\" must be text");
        call.error = error->text;
    }
    return call;
}

std::vector<TracedCall> ReadTrace(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TraceFormatError("cannot open trace " + path, 0);
    std::vector<TracedCall> calls;
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        try {
            calls.push_back(ParseTraceLine(line));
        } catch (const TraceFormatError& error) {
            throw TraceFormatError(path + ":" + std::to_string(number) + ": " + error.what(),
                                   number);
        }
    }
    return calls;
}

} // namespace automation::trace
