#pragma once
// Part templates of the CAD stand-in: the length unit of a new part and its reference
// planes. Plain C++; the format is described at the top of part_template.cpp.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace krepiks::cad {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

struct TemplatePlane {
    std::string name; // UTF-8
    Vec3 origin;      // in the template's unit
    Vec3 normal;      // unit length
    Vec3 xDir;        // sketch x axis, unit length, perpendicular to the normal
};

struct PartTemplate {
    std::string unit = "mm";
    double unitsPerMetre = 1000.0;     // model units in one metre
    std::vector<TemplatePlane> planes; // the first one is the default sketch plane
};

// A template file larger than this is refused unread.
inline constexpr std::size_t MaxTemplateBytes = 1 << 20;

// Why a template could not be used, for a person to be told.
enum class TemplateFault { NoPath, Missing, Folder, NotAFile, TooLarge, Unreadable, NotATemplate };

struct TemplateError {
    TemplateFault fault = TemplateFault::NotATemplate;
    int line = 0;        // NotATemplate: the line at fault; 0 when it is the text as a whole
    std::string message; // in English, naming the path or the line: for logs and tests
};

// Parses template text; on failure returns nothing and, when error is given, says why.
std::optional<PartTemplate> ParsePartTemplate(const std::string& text,
                                              std::string* error = nullptr);
std::optional<PartTemplate> ParsePartTemplate(const std::string& text, TemplateError* error);

// Reads and parses a template file. A missing, unreadable or oversized file fails.
std::optional<PartTemplate> LoadPartTemplate(const std::string& path, std::string* error = nullptr);
std::optional<PartTemplate> LoadPartTemplate(const std::string& path, TemplateError* error);

} // namespace krepiks::cad
