// help_to_man: writes a program's manual page from its own --help texts, at build time, so that
// the manual never tells another story than the program.
//
//   help_to_man OUT.1 PROGRAM SUMMARY [SEE-ALSO-PAGE]...
//
// PROGRAM --version gives the page's footer, PROGRAM --help its synopsis and description, and
// PROGRAM SUBCOMMAND --help a section for each subcommand that help lists. The help texts are in
// the command-line library's layout: a description, "Usage:", headings ending in ':' at the margin,
// entries indented by two with their texts in one column (below the term when the term is wider),
// and footers at the margin.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    if (::pclose(pipe) == 0) return out;
  }
  std::cerr << "help_to_man: " << command << " failed\n";
  std::exit(1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Text for roff: backslashes and minus signs escaped, no control character at a line's start.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct Page {
  std::ostringstream roff;
  std::set<std::string> footers;  // printed once, though every command's help repeats them
};

// The column the entries' texts start in: where the text of "-h,--help" starts. A term as wide
// as the column or wider has its text on the next line.
std::size_t TextColumn(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (line.starts_with("  -h,--help ")) return line.find_first_not_of(' ', 11);
  return std::string::npos;
}

std::string Trimmed(const std::string& text) {
  const auto end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The names listed under "Subcommands:".
std::vector<std::string> Subcommands(const std::string& help) {
  std::vector<std::string> names;
  bool listed = false;
  for (const std::string& line : Lines(help)) {
    if (!line.empty() && line[0] != ' ') listed = line == "Subcommands:";
    if (listed && line.starts_with("  ") && line[2] != ' ')
      names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

// One help text as roff below the current heading. `program` replaces the path the usage line
// names the program by. Returns the usage line.
std::string Translate(Page& page, const std::string& help, const std::string& program) {
  static const std::regex kUsage("^Usage: [^ ]*(.*)$");
  static const std::regex kHeading("^([^ ].*):$");
  static const std::regex kContinued("^ {3,}([^ ].*)$");
  std::string usage;
  const auto lines = Lines(help);
  const std::size_t column = TextColumn(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::smatch m;
    if (line.empty()) continue;
    if (std::regex_match(line, m, kUsage)) {
      usage = program + m[1].str();
    } else if (std::regex_match(line, m, kHeading)) {
      page.roff << ".SS \"" << Escape(m[1].str()) << "\"\n";
    } else if (line.starts_with("  ") && line[2] != ' ') {
      const bool textBeside = column != std::string::npos && line.size() > column &&
                              line[column - 1] == ' ' && line[column] != ' ';
      page.roff << ".TP\n\\fB"
                << Escape(Trimmed(line.substr(2, textBeside ? column - 2 : line.npos))) << "\\fR\n";
      if (textBeside) page.roff << Escape(line.substr(column)) << '\n';
      for (std::smatch more;
           i + 1 < lines.size() && std::regex_match(lines[i + 1], more, kContinued); ++i)
        page.roff << Escape(more[1].str()) << '\n';
    } else if (std::regex_match(line, m, kContinued)) {
      page.roff << Escape(m[1].str()) << '\n';
    } else if (i == 0 || page.footers.insert(line).second) {
      page.roff << ".PP\n" << Escape(line) << '\n';
    }
  }
  return usage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: help_to_man OUT.1 PROGRAM SUMMARY [SEE-ALSO-PAGE]...\n";
    return 2;
  }
  const std::string out = argv[1];
  const std::string program = argv[2];
  const std::string summary = argv[3];
  const std::vector<std::string> seeAlso(argv + 4, argv + argc);
  // Paths in the help as every reader's, not the builder's: the data directory under "~".
  ::setenv("HOME", "~", 1);
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("LC_ALL", "C", 1);
  const std::string name = program.substr(program.find_last_of('/') + 1);
  std::string version = Run("'" + program + "' --version");
  while (!version.empty() && version.back() == '\n') version.pop_back();

  Page page;
  std::vector<std::string> usages;
  const std::string help = Run("'" + program + "' --help");
  usages.push_back(Translate(page, help, name));
  for (const std::string& sub : Subcommands(help)) {
    page.roff << ".SH \"" << Upper(name + " " + sub) << "\"\n";
    usages.push_back(Translate(page, Run("'" + program + "' " + sub + " --help"), name));
  }

  std::ofstream file(out);
  file << ".TH " << Upper(name) << " 1 \"\" \"" << Escape(version) << "\" \"User Commands\"\n"
       << ".SH NAME\n"
       << Escape(name) << " \\- " << Escape(summary) << '\n'
       << ".SH SYNOPSIS\n";
  for (const std::string& usage : usages) {
    if (usage.empty()) continue;
    const auto blank = usage.find(' ');
    file << ".B " << Escape(usage.substr(0, blank)) << '\n';
    if (blank != std::string::npos) file << Escape(usage.substr(blank + 1)) << '\n';
    file << ".br\n";
  }
  file << ".SH DESCRIPTION\n" << page.roff.str();
  if (!seeAlso.empty()) {
    file << ".SH \"SEE ALSO\"\n";
    for (std::size_t i = 0; i < seeAlso.size(); ++i) {
      const auto paren = seeAlso[i].find('(');
      file << ".BR " << Escape(seeAlso[i].substr(0, paren)) << ' ' << seeAlso[i].substr(paren)
           << (i + 1 < seeAlso.size() ? " ," : "") << '\n';
    }
  }
  file.close();
  return file ? 0 : 1;
}
