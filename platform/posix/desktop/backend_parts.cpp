#include "platform/posix/desktop/backend_parts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/posix/reg_files/ascii_text.h"
#include "platform/replace_file.h"

namespace platform {
namespace posix {

std::string Lower(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool GVariantText(std::string printed, std::string* text) {
  while (!printed.empty() && (printed.back() == '\n' || printed.back() == ' ')) printed.pop_back();
  if (printed.size() < 2 || (printed[0] != '\'' && printed[0] != '"') || printed.back() != printed[0]) return false;
  text->clear();
  for (std::size_t at = 1; at + 1 < printed.size(); ++at) {
    char c = printed[at];
    if (c == '\\') {
      if (at + 2 >= printed.size()) return false;
      c = printed[++at];
      if (c == 'a') c = '\a';
      else if (c == 'b') c = '\b';
      else if (c == 'f') c = '\f';
      else if (c == 'n') c = '\n';
      else if (c == 'r') c = '\r';
      else if (c == 't') c = '\t';
      else if (c == 'v') c = '\v';
      else if (c == 'u' || c == 'U') {  // a code point, \u and four hex digits or \U and eight, as UTF-8
        const std::size_t digits = c == 'u' ? 4 : 8;
        if (at + digits + 1 >= printed.size()) return false;
        const std::string hex = printed.substr(at + 1, digits);
        if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        const unsigned long code = std::strtoul(hex.c_str(), nullptr, 16);
        if (code > 0x10FFFF) return false;
        at += digits;
        AppendUtf8(*text, static_cast<std::uint32_t>(code));
        continue;
      } else if (c != '\\' && c != '\'' && c != '"') return false;
    }
    *text += c;
  }
  return true;
}

bool PathOfUri(const std::string& uri, std::string* path) {
  if (!uri.empty() && uri[0] == '/') return *path = uri, true;
  if (uri.rfind("file://", 0) != 0 || uri.size() < 8 || uri[7] != '/') return false;
  path->clear();
  for (std::size_t at = 7; at < uri.size(); ++at) {
    if (uri[at] == '%' && at + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[at + 2]))) {
      *path += static_cast<char>(std::stoi(uri.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      *path += uri[at];
    }
  }
  return true;
}

namespace {

// Scanned, never matched by a regular expression: std::regex recurses once per character
// and a long header overflows the stack.
bool HeaderMatches(const std::string& line, const std::string& group) {
  std::size_t at = 0;
  for (const char c : group) {
    if (c != '#') {
      if (at == line.size() || line[at] != c) return false;
      ++at;
      continue;
    }
    const std::size_t digits = at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
    if (at == digits) return false;
  }
  return at == line.size();
}

}  // namespace

bool IniValue(const std::string& file, const std::string& group, const std::string& key, std::string* value,
              bool codePoints) {
  std::string text;
  if (!ReadRegularFile(file, &text, kLargestSettingsFile)) return false;
  bool inGroup = false;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      if (inGroup) return false;
      inGroup = HeaderMatches(line, group);
      continue;
    }
    if (!inGroup || line.rfind(key + "=", 0) != 0) continue;
    value->clear();
    // QSettings quotes a value that holds ',', ';' or '=' (a path may), and writes a
    // quote inside as \".
    std::size_t at = key.size() + 1;
    const bool quoted = codePoints && at < line.size() && line[at] == '"';
    for (at += quoted ? 1 : 0; at < line.size(); ++at) {
      if (quoted && line[at] == '"') return at + 1 == line.size();
      if (line[at] != '\\') { *value += line[at]; continue; }
      if (++at == line.size()) return false;
      const char escaped = line[at];
      if (escaped == '"' && codePoints) *value += '"';
      else if (escaped == 's') *value += ' ';
      else if (escaped == 'n') *value += '\n';
      else if (escaped == 't') *value += '\t';
      else if (escaped == '\\') *value += '\\';
      else if (escaped != 'x' || !codePoints) return false;
      else {
        std::size_t digits = 0;
        while (digits < 4 && at + 1 + digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[at + 1 + digits]))) ++digits;
        if (digits == 0) return false;
        AppendUtf8(*value, static_cast<std::uint32_t>(std::stoul(line.substr(at + 1, digits), nullptr, 16)));
        at += digits;
      }
    }
    return !quoted && (value->empty() || (*value)[0] != '"');
  }
  return false;
}

std::string ConfigFolder(const Session& session) {
  const std::string config = session.Variable("XDG_CONFIG_HOME");
  return !config.empty() && config[0] == '/' ? config : session.Variable("HOME") + "/.config";
}

std::string GVariantString(const std::string& text) { return BackslashQuoted(text, '\''); }

bool AnyRuns(const Session& session, const std::vector<RunningProgram>& programs) {
  return std::any_of(programs.begin(), programs.end(), [&](const RunningProgram& program) {
    return session.Runs(program.name, program.argument);
  });
}

bool BusShows(const Session& session, const SessionSigns& signs) {
  return signs.busName != nullptr && !session.ProcessesVisible() && session.BusNameOwned(signs.busName);
}

bool PainterRuns(const Session& session, const SessionSigns& signs) {
  return AnyRuns(session, signs.painters) || BusShows(session, signs);
}

bool ValidUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
    if (extra < 0 || text.size() - at <= static_cast<std::size_t>(extra)) return false;
    std::uint32_t code = lead & (0x7F >> extra);
    for (int i = 1; i <= extra; ++i) {
      const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    at += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

bool PlainOutputName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && name[0] != '-' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                  c == '_' || c == '+';
         });
}

CommandResult Worse(CommandResult a, CommandResult b) {
  if (a == CommandResult::kTimedOut || b == CommandResult::kTimedOut) return CommandResult::kTimedOut;
  return a == CommandResult::kSucceeded ? b : a;
}

}  // namespace posix
}  // namespace platform
