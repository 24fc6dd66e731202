#include "kit/DebianFiles.h"

#include "kit/Metainfo.h"

#include <gio/gio.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <stdexcept>

namespace corvane::kit {
namespace {

std::vector<std::string> wrapped(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::istringstream words(text);
  std::string line;
  for (std::string word; words >> word;) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Roff text: backslashes and dashes escaped, no line starting a request.
std::string roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(g_ascii_toupper(c));
  return s;
}

}  // namespace

std::string controlText(const AppMetadata& app, const ControlFields& fields) {
  std::string c;
  c += "Package: " + app.package + "\n";
  c += "Version: " + app.version + "\n";
  c += "Architecture: " + fields.architecture + "\n";
  c += "Maintainer: " + app.maintainer + "\n";
  c += "Installed-Size: " + std::to_string(fields.installedSizeKiB) + "\n";
  if (!fields.depends.empty()) c += "Depends: " + fields.depends + "\n";
  if (!fields.recommends.empty()) c += "Recommends: " + fields.recommends + "\n";
  c += "Section: " + app.section + "\n";
  c += "Priority: optional\n";
  if (!app.homepage.empty()) c += "Homepage: " + app.homepage + "\n";
  c += "Description: " + app.summary + "\n";
  auto blocks = descriptionBlocks(app.description);
  if (blocks.empty())
    blocks.push_back({false, {app.name + " is a desktop application made with the Corvane shell."}});
  bool first = true;
  for (const auto& b : blocks) {
    if (!first) c += " .\n";
    first = false;
    if (b.list) {
      for (const auto& item : b.items) c += "  - " + item + "\n";
    } else {
      for (const auto& line : wrapped(b.items.front(), 72)) c += " " + line + "\n";
    }
  }
  return c;
}

std::string copyrightText(const AppMetadata& app) {
  std::string t = app.name + " " + app.shortVersion + "\n";
  if (!app.homepage.empty()) t += app.homepage + "\n";
  t += "\n";
  t += (app.copyright.empty() ? "Copyright: the authors of " + app.name + "." : app.copyright) + "\n\n";
  t += "License: " + (app.license.empty() ? std::string("not stated by the application") : app.license) + "\n";
  return t;
}

std::string changelogText(const AppMetadata& app, const std::string& date) {
  return app.package + " (" + app.version + ") unstable; urgency=medium\n\n  * " + app.name + " " + app.shortVersion +
         ".\n\n -- " + app.maintainer + "  " + date + "\n";
}

std::string manPageText(const AppMetadata& app, bool sharedShell) {
  std::string m;
  m += ".TH \"" + upper(roff(app.package)) + "\" 1 \"\" \"" + roff(app.name + " " + app.shortVersion) +
       "\" \"User Commands\"\n";
  m += ".SH NAME\n" + roff(app.package) + " \\- " + roff(app.summary) + "\n";
  m += ".SH SYNOPSIS\n.B " + roff(app.package) + "\n[\\fIFILE\\fR...]\n";
  m += ".SH DESCRIPTION\n";
  auto blocks = descriptionBlocks(app.description);
  if (blocks.empty()) blocks.push_back({false, {app.summary}});
  for (const auto& b : blocks) {
    if (b.list) {
      for (const auto& item : b.items) m += ".IP \\(bu 2\n" + roff(item) + "\n";
    } else {
      m += ".PP\n" + roff(b.items.front()) + "\n";
    }
  }
  m += ".PP\nThe FILEs are opened in the application; a second start hands them to the\n"
       "running instance.\n";
  if (sharedShell) m += ".SH SEE ALSO\n.BR corvane (1)\n";
  return m;
}

std::string sharedLauncherScript(const std::string& installedBundle) {
  gchar* quoted = g_shell_quote(installedBundle.c_str());
  std::string out = "#!/bin/sh\n"
                    "# Runs the application with the installed Corvane shell.\n"
                    "exec /usr/bin/corvane --bundle " + std::string(quoted) + " -- \"$@\"\n";
  g_free(quoted);
  return out;
}

std::string packageDate() {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) now = std::strtoll(epoch, nullptr, 10);
  char buf[64];
  // The names in English whatever the locale: strftime's %a and %b follow it.
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm t = *std::gmtime(&now);
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[t.tm_wday], t.tm_mday, months[t.tm_mon],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string gzipped(const std::string& data) {
  GZlibCompressor* compressor = g_zlib_compressor_new(G_ZLIB_COMPRESSOR_FORMAT_GZIP, 9);
  std::string out(data.size() + 64, '\0');
  size_t produced = 0, consumed = 0;
  for (;;) {
    gsize read = 0, written = 0;
    GError* error = nullptr;
    if (out.size() - produced < 64) out.resize(out.size() * 2);
    const GConverterResult r = g_converter_convert(
        G_CONVERTER(compressor), data.data() + consumed, data.size() - consumed, out.data() + produced,
        out.size() - produced, G_CONVERTER_INPUT_AT_END, &read, &written, &error);
    consumed += read;
    produced += written;
    if (r == G_CONVERTER_ERROR) {
      const bool noSpace = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NO_SPACE);
      std::string why = error ? error->message : "compression failed";
      g_error_free(error);
      if (noSpace) {
        out.resize(out.size() * 2);
        continue;
      }
      g_object_unref(compressor);
      throw std::runtime_error(why);
    }
    if (r == G_CONVERTER_FINISHED) break;
  }
  g_object_unref(compressor);
  out.resize(produced);
  return out;
}

}  // namespace corvane::kit
