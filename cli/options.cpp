#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "imagefile.h"
#include "metadata.h"
#include "settings.h"

namespace {

int ParseInt(const std::string& option, const std::string& text, int lo, int hi) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < lo || v > hi) {
        std::ostringstream msg;
        msg << "invalid value '" << text << "' for --" << option << ": expected a whole number from " << lo
            << " to " << hi;
        throw std::invalid_argument(msg.str());
    }
    return int(v);
}

int ParseFormat(const std::string& text) {
    if (text == "bmp") return kFormatBmp;
    if (text == "tif" || text == "tiff") return kFormatTiff;
    if (text == "png") return kFormatPng;
    if (text == "jpg" || text == "jpeg") return kFormatJpeg;
    throw std::invalid_argument("invalid value '" + text + "' for --format: expected bmp, tif, png or jpg");
}

const CliMethod* FindMethod(const std::string& name) {
    for (const CliMethod& m : CliMethods())
        if (m.name == name) return &m;
    return nullptr;
}

// Records one method option in `chosen` (parameter index -> position);
// false when `name` is not one of the method's.
bool ApplyMethodOption(const CliOptions& o, std::map<size_t, int>& chosen, const std::string& name,
                       const std::string* value, bool& usedValue) {
    const std::vector<ParamSpec>& params = o.method->params;
    usedValue = false;
    const bool negated = name.rfind("no-", 0) == 0;
    const std::string base = negated ? name.substr(3) : name;
    for (size_t i = 0; i < params.size(); ++i) {
        if (base != params[i].option) continue;
        if (negated && params[i].kind == ParamKind::CheckBox) {
            chosen[i] = 0;
            return true;
        }
        if (!negated && params[i].kind == ParamKind::Choice) {
            if (!value) throw std::invalid_argument("--" + name + " needs a value");
            int entry = -1;
            std::string names;
            for (int v = params[i].min; v <= params[i].max; ++v) {
                const char* n = params[i].choices[v - params[i].min];
                if (*value == n) entry = v;
                names += std::string(names.empty() ? "" : ", ") + n;
            }
            if (entry < 0)
                throw std::invalid_argument("invalid value '" + *value + "' for --" + name + ": expected " + names);
            chosen[i] = entry;
            usedValue = true;
            for (size_t j = 0; j < params.size(); ++j)
                if (params[j].kind == ParamKind::CheckBox && base == params[j].option) chosen[j] = 1;
            return true;
        }
        if (!negated && params[i].kind == ParamKind::Slider) {
            if (!value) throw std::invalid_argument("--" + name + " needs a value");
            chosen[i] = ParseInt(name, *value, params[i].min, params[i].max);
            usedValue = true;
            // Giving a value also switches on the step it belongs to.
            for (size_t j = 0; j < params.size(); ++j)
                if (params[j].kind == ParamKind::CheckBox && base == params[j].option) chosen[j] = 1;
            return true;
        }
    }
    return false;
}

// Positions stored by the desktop program, as it would take them itself.
std::vector<std::pair<std::string, int>> StoredPositions() {
    const UiSettings ui = ReadStoredPanelValues(DefaultSettingsPaths());
    std::vector<std::pair<std::string, int>> stored;
    for (const SettingKey& k : kSettingKeys) stored.emplace_back(k.key, ui.*k.field);
    return stored;
}

std::vector<std::pair<std::string, int>> RecipePositions(const CliMethod& method, const std::string& picture) {
    std::string why;
    const std::optional<Recipe> recipe = ReadRecipe(picture, &why);
    if (!recipe) throw std::invalid_argument("--like: " + picture + " " + why);
    if (recipe->method != method.name)
        throw std::invalid_argument("--like: " + picture + " was repainted with " + recipe->method + ", not " +
                                    method.name);
    return recipe->positions;
}

void Overlay(std::vector<int>& positions, const std::vector<ParamSpec>& params,
             const std::vector<std::pair<std::string, int>>& values) {
    for (size_t i = 0; i < params.size(); ++i)
        for (const auto& [key, value] : values)
            if (key == params[i].settingsKey) positions[i] = ClampPosition(params[i], value);
}

// A run starts from the positions of the panels' Default button, the values
// each method is tuned for, not from a new user's first-run positions.
int CommandLineDefault(const ParamSpec& p) { return p.buttonDefault; }

}  // namespace

std::string UsageText() {
    std::ostringstream s;
    s << "Usage: quorvane-cli METHOD [OPTIONS] INPUT...\n"
         "Repaints photographs so that they look painted.\n\nMethods:\n";
    for (const CliMethod& m : CliMethods()) {
        s << "  " << m.name << " — " << m.summary << "\n";
        for (const ParamSpec& p : m.params) {
            if (p.kind == ParamKind::Slider) {
                s << "      --" << p.option << " " << p.min << ".." << p.max << "  (default " << CommandLineDefault(p) << ")\n";
            } else if (p.kind == ParamKind::Choice) {
                s << "      --" << p.option << " ";
                for (int v = p.min; v <= p.max; ++v) s << (v > p.min ? "|" : "") << p.choices[v - p.min];
                s << "  (default " << p.choices[CommandLineDefault(p) - p.min] << ")\n";
            } else {
                s << "      --no-" << p.option << "\n";
            }
        }
    }
    s << "\nCommon options:\n"
         "  -o, --output FILE|DIR   where to write (default: beside the input, NAME-repainted.EXT)\n"
         "  --format bmp|tif|png|jpg  output format (default: the input's, else png)\n"
         "  --quality 10..100       JPEG quality (default 90)\n"
         "  --threads N             threads to use (default: all cores)\n"
         "  --quiet                 no progress output\n"
         "  --like PICTURE          the method's settings stored in PICTURE by an earlier run\n"
         "  --settings              the settings last used in the desktop program\n"
         "                          (options given explicitly override both)\n"
         "  -h, --help              show this help\n"
         "  --version               show the version\n"
         "\nExit status: 0 all files repainted, 1 some failed, 2 bad command line, 130 interrupted.\n";
    return s.str();
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
    CliOptions o;
    size_t i = 0;
    for (; i < args.size(); ++i) {
        if (args[i] == "-h" || args[i] == "--help") o.help = true;
        else if (args[i] == "--version") o.version = true;
        else break;
    }
    if (o.help || o.version) return o;
    if (i == args.size()) throw std::invalid_argument("no method given (try --help)");
    o.method = FindMethod(args[i]);
    if (!o.method) throw std::invalid_argument("unknown method '" + args[i] + "' (try --help)");
    for (const ParamSpec& p : o.method->params) o.positions.push_back(CommandLineDefault(p));

    std::map<size_t, int> chosen;
    for (++i; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--") {
            o.inputs.insert(o.inputs.end(), args.begin() + long(i) + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            o.inputs.push_back(arg);
            continue;
        }
        std::string name = arg == "-o" ? "output" : arg == "-h" ? "help" : arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
        std::string inlineValue;
        bool hasInline = false;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasInline = true;
        }
        const std::string* next = hasInline ? &inlineValue : (i + 1 < args.size() ? &args[i + 1] : nullptr);
        auto value = [&]() -> std::string {
            if (!next) throw std::invalid_argument("--" + name + " needs a value");
            if (!hasInline) ++i;
            return *next;
        };
        if (name == "help") o.help = true;
        else if (name == "quiet") o.quiet = true;
        else if (name == "output") o.output = value();
        else if (name == "format") o.format = ParseFormat(value());
        else if (name == "quality") o.quality = ParseInt(name, value(), 10, 100);
        else if (name == "threads") o.threads = ParseInt(name, value(), 1, 256);
        else if (name == "settings")
            Overlay(o.positions, o.method->params, StoredPositions());
        else if (name == "like") Overlay(o.positions, o.method->params, RecipePositions(*o.method, value()));
        else {
            bool used = false;
            if (!ApplyMethodOption(o, chosen, name, next, used))
                throw std::invalid_argument("unknown option '" + arg + "' for " + o.method->name + " (try --help)");
            if (used && !hasInline) ++i;
        }
    }
    for (const auto& [index, position] : chosen) o.positions[index] = position;
    if (!o.help && o.inputs.empty()) throw std::invalid_argument("no input files given");
    return o;
}
