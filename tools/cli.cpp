#include "tools/cli.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace tools {

Options::Options(std::string_view command, const std::vector<std::string_view>& args,
                 const std::vector<std::string_view>& valued,
                 const std::vector<std::string_view>& flags)
    : command_(command) {
    const auto contains = [](const std::vector<std::string_view>& list, std::string_view name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (arg.size() > 1 && arg[0] == '-' && arg != "-o") {
                fail("unknown option '" + std::string(arg) + "'");
                continue;
            }
            if (arg == "-o") {
                arg = "--output";
            } else {
                positional_.emplace_back(arg);
                continue;
            }
        }
        std::string name(arg.substr(2));
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (contains(flags, name) && !inlineValue) {
            flags_.push_back(name);
        } else if (contains(valued, name)) {
            if (inlineValue) {
                values_.emplace_back(name, *inlineValue);
            } else if (i + 1 < args.size()) {
                values_.emplace_back(name, std::string(args[++i]));
            } else {
                fail("option --" + name + " needs a value");
            }
        } else {
            fail("unknown option '--" + name + "'");
        }
    }
}

bool Options::flag(std::string_view name) const {
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

std::optional<std::string> Options::value(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto& [key, v] : values_) {
        if (key == name) found = v;  // the last one given wins
    }
    return found;
}

int Options::integer(std::string_view name, int low, int high, int fallback) {
    const auto text = value(name);
    if (!text) return fallback;
    int parsed = 0;
    const char* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, parsed);
    if (ec != std::errc() || ptr != end || parsed < low || parsed > high) {
        fail("--" + std::string(name) + " must be a whole number from " + std::to_string(low) +
             " to " + std::to_string(high) + ", not '" + *text + "'");
        return fallback;
    }
    return parsed;
}

double Options::number(std::string_view name, double low, double high, double fallback) {
    const auto text = value(name);
    if (!text) return fallback;
    double parsed = 0.0;
    const char* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, parsed);
    if (ec != std::errc() || ptr != end || !(parsed >= low && parsed <= high)) {
        std::ostringstream range;
        range << "--" << name << " must be a number from " << low << " to " << high << ", not '"
              << *text << "'";
        fail(range.str());
        return fallback;
    }
    return parsed;
}

double Options::fraction(std::string_view name, double fallback) {
    const auto text = value(name);
    if (!text) return fallback;
    if (!text->empty() && text->back() == '%') {
        double percent = 0.0;
        const char* end = text->data() + text->size() - 1;
        const auto [ptr, ec] = std::from_chars(text->data(), end, percent);
        if (ec == std::errc() && ptr == end && percent >= 0.0 && percent <= 100.0) {
            return percent / 100.0;
        }
        fail("--" + std::string(name) + " must be a percentage from 0% to 100%, not '" + *text +
             "'");
        return fallback;
    }
    return number(name, 0.0, 1.0, fallback);
}

int Options::choice(std::string_view name, const std::vector<std::string_view>& choices,
                    int fallback) {
    const auto text = value(name);
    if (!text) return fallback;
    for (size_t i = 0; i < choices.size(); ++i) {
        if (choices[i] == *text) return static_cast<int>(i);
    }
    std::string list;
    for (const auto c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
    fail("--" + std::string(name) + " must be one of " + list + ", not '" + *text + "'");
    return fallback;
}

void Options::expectPositional(size_t count, std::string_view message) {
    if (ok() && positional_.size() != count) fail(std::string(message) + " (see vistrel --help)");
}

bool Options::reportIfFailed() const {
    if (ok()) return false;
    reportError(command_, error_);
    return true;
}

void Options::fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
}

void printWindowText(const std::string& text) {
    std::string lines = text;
    std::erase(lines, '\r');
    std::printf("%s\n", lines.c_str());
}

void reportError(std::string_view command, std::string_view message) {
    std::fprintf(stderr, "vistrel %.*s: %.*s\n", static_cast<int>(command.size()), command.data(),
                 static_cast<int>(message.size()), message.data());
}

}  // namespace tools
