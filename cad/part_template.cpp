// Template format (UTF-8 text, one statement a line; '#' starts a comment outside quotes):
//
//   krepiks-part 1                      first statement: format name and version
//   unit mm                             once: mm, cm, m or in; the unit the part is
//                                       modelled and exported in
//   plane "Сверху" origin 0 0 0 normal 0 1 0 xdir 1 0 0
//                                       a reference plane: quoted name (unique, no quote
//                                       characters inside), its origin in the unit above,
//                                       its normal and its sketch x axis (any length, not
//                                       zero, perpendicular to each other); the sketch y
//                                       axis is normal × xdir. The first plane listed is
//                                       the plane a sketch opens on when nothing usable is
//                                       selected. At least one plane is required.
//
// Numbers use a full stop as the decimal separator whatever the locale.
#include "cad/part_template.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace krepiks::cad {
namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

bool Tokenize(const std::string& line, std::vector<Token>& tokens, std::string& why) {
    std::size_t i = 0;
    while (i < line.size()) {
        const char ch = line[i];
        if (ch == ' ' || ch == '\t' || ch == '\r') {
            ++i;
        } else if (ch == '#') {
            break;
        } else if (ch == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                why = "unterminated name";
                return false;
            }
            tokens.push_back({line.substr(i + 1, close - i - 1), true});
            i = close + 1;
        } else {
            std::size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
                   line[end] != '\r' && line[end] != '#' && line[end] != '"')
                ++end;
            tokens.push_back({line.substr(i, end - i), false});
            i = end;
        }
    }
    return true;
}

bool ParseNumber(const Token& token, double& out) {
    if (token.quoted || token.text.empty())
        return false;
    const char* first = token.text.data();
    const char* last = first + token.text.size();
    if (*first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last && std::isfinite(out);
}

double Length(const Vec3& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

Vec3 Normalized(const Vec3& v) {
    const double l = Length(v);
    return {v.x / l, v.y / l, v.z / l};
}

bool ParseUnit(const std::string& name, double& perMetre) {
    if (name == "mm")
        perMetre = 1000.0;
    else if (name == "cm")
        perMetre = 100.0;
    else if (name == "m")
        perMetre = 1.0;
    else if (name == "in")
        perMetre = 1.0 / 0.0254;
    else
        return false;
    return true;
}

bool ParsePlane(const std::vector<Token>& tokens, TemplatePlane& plane, std::string& why) {
    if (tokens.size() != 14 || !tokens[1].quoted) {
        why = "a plane is: plane \"name\" origin x y z normal x y z xdir x y z";
        return false;
    }
    plane.name = tokens[1].text;
    if (plane.name.empty()) {
        why = "a plane needs a name";
        return false;
    }
    bool seen[3] = {false, false, false};
    for (std::size_t at = 2; at < tokens.size(); at += 4) {
        const std::string& key = tokens[at].text;
        int slot = key == "origin" ? 0 : key == "normal" ? 1 : key == "xdir" ? 2 : -1;
        if (tokens[at].quoted || slot < 0 || seen[slot]) {
            why = "expected origin, normal and xdir once each";
            return false;
        }
        seen[slot] = true;
        Vec3 v;
        if (!ParseNumber(tokens[at + 1], v.x) || !ParseNumber(tokens[at + 2], v.y) ||
            !ParseNumber(tokens[at + 3], v.z)) {
            why = "bad number after " + key;
            return false;
        }
        (slot == 0 ? plane.origin : slot == 1 ? plane.normal : plane.xDir) = v;
    }
    if (Length(plane.normal) < 1e-12 || Length(plane.xDir) < 1e-12) {
        why = "normal and xdir must not be zero";
        return false;
    }
    plane.normal = Normalized(plane.normal);
    plane.xDir = Normalized(plane.xDir);
    const double dot = plane.normal.x * plane.xDir.x + plane.normal.y * plane.xDir.y +
                       plane.normal.z * plane.xDir.z;
    if (std::abs(dot) > 1e-9) {
        why = "xdir must be perpendicular to the normal";
        return false;
    }
    return true;
}

} // namespace

std::optional<PartTemplate> ParsePartTemplate(const std::string& text, std::string* error) {
    TemplateError why;
    auto result = ParsePartTemplate(text, error ? &why : nullptr);
    if (!result && error)
        *error = why.message;
    return result;
}

std::optional<PartTemplate> ParsePartTemplate(const std::string& text, TemplateError* error) {
    PartTemplate result;
    std::set<std::string> names;
    bool headerSeen = false;
    bool unitSeen = false;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    // Within the loop the line being read is at fault; after it, the text as a whole.
    bool reading = true;
    auto fail = [&](const std::string& why) -> std::optional<PartTemplate> {
        if (error)
            *error = {TemplateFault::NotATemplate, reading ? number : 0,
                      "line " + std::to_string(number) + ": " + why};
        return std::nullopt;
    };
    while (std::getline(lines, line)) {
        ++number;
        std::vector<Token> tokens;
        std::string why;
        if (!Tokenize(line, tokens, why))
            return fail(why);
        if (tokens.empty())
            continue;
        const std::string& keyword = tokens[0].quoted ? std::string() : tokens[0].text;
        if (!headerSeen) {
            if (keyword != "krepiks-part" || tokens.size() != 2 || tokens[1].text != "1")
                return fail("not a part template (expected \"krepiks-part 1\")");
            headerSeen = true;
        } else if (keyword == "unit") {
            if (unitSeen || tokens.size() != 2 || tokens[1].quoted ||
                !ParseUnit(tokens[1].text, result.unitsPerMetre))
                return fail("expected one \"unit mm|cm|m|in\"");
            result.unit = tokens[1].text;
            unitSeen = true;
        } else if (keyword == "plane") {
            TemplatePlane plane;
            if (!ParsePlane(tokens, plane, why))
                return fail(why);
            if (!names.insert(plane.name).second)
                return fail("plane \"" + plane.name + "\" declared twice");
            result.planes.push_back(std::move(plane));
        } else {
            return fail("unknown statement \"" + tokens[0].text + "\"");
        }
    }
    reading = false;
    if (!headerSeen)
        return fail("empty template");
    if (!unitSeen)
        return fail("no unit declared");
    if (result.planes.empty())
        return fail("no reference plane declared");
    return result;
}

std::optional<PartTemplate> LoadPartTemplate(const std::string& path, std::string* error) {
    TemplateError why;
    auto result = LoadPartTemplate(path, error ? &why : nullptr);
    if (!result && error)
        *error = why.message;
    return result;
}

std::optional<PartTemplate> LoadPartTemplate(const std::string& path, TemplateError* error) {
    auto fail = [&](TemplateFault fault, const std::string& why) -> std::optional<PartTemplate> {
        if (error)
            *error = {fault, 0, why};
        return std::nullopt;
    };
    if (path.empty())
        return fail(TemplateFault::NoPath, "no template path given");
    // Only a regular file: a FIFO or device would block the caller or never end.
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return fail(TemplateFault::Missing, "cannot open \"" + path + "\": no such file");
    if (ec)
        return fail(TemplateFault::Unreadable, "cannot open \"" + path + "\": " + ec.message());
    if (std::filesystem::is_directory(status))
        return fail(TemplateFault::Folder, "cannot open \"" + path + "\": it is a folder");
    if (!std::filesystem::is_regular_file(status))
        return fail(TemplateFault::NotAFile, "cannot open \"" + path + "\": not a regular file");
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return fail(TemplateFault::Unreadable, "cannot open \"" + path + "\"");
    std::string text;
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > MaxTemplateBytes)
            return fail(TemplateFault::TooLarge,
                        "\"" + path + "\" is too large for a part template");
    }
    if (file.bad())
        return fail(TemplateFault::Unreadable, "cannot read \"" + path + "\"");
    return ParsePartTemplate(text, error);
}

} // namespace krepiks::cad
