#include "tools/tilvane/cli/roff.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace tilvane_tool {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

size_t Indent(const std::string& line) {
  const size_t at = line.find_first_not_of(' ');
  return at == std::string::npos ? line.size() : at;
}

std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

bool Blank(const std::string& line) { return Trimmed(line).empty(); }
bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// A character beyond ASCII as a glyph every groff device has (an ASCII
// terminal's too, where \[uXXXX] warns and shows nothing), else as ASCII; any
// other as \[uXXXX], which a UTF-8 terminal shows.
std::string Glyph(uint32_t code) {
  static constexpr std::pair<uint32_t, const char*> kGlyphs[] = {
      {0x00D7, "\\(mu"},  {0x2014, "\\(em"}, {0x2013, "\\(en"}, {0x2212, "\\(mi"},
      {0x2026, "\\&..."}, {0x2192, "\\(->"}, {0x2264, "\\(<="}, {0x2265, "\\(>="},
      {0x2018, "\\(oq"},  {0x2019, "\\(cq"}, {0x201C, "\\(lq"}, {0x201D, "\\(rq"},
      {0x00A0, "\\~"},
  };
  for (const auto& [c, glyph] : kGlyphs) {
    if (c == code) return glyph;
  }
  char escape[16];
  std::snprintf(escape, sizeof escape, "\\[u%04X]", code);
  return escape;
}

// Characters escaped for roff, with no regard to where the line starts.
std::string Escaped(const std::string& text, bool afterWordCharacter = false) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool wordBefore =
        i == 0 ? afterWordCharacter : std::isalnum(static_cast<unsigned char>(text[i - 1])) != 0;
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && !wordBefore) {
      out += "\\-";  // an option's dash, which must copy as a minus
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      uint32_t code = length == 1 ? c : c & (0x7F >> length);
      for (int k = 1; k < length && i + 1 < text.size(); ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F);
      }
      out += Glyph(code);
    }
  }
  return out;
}

// A text line that begins with '.' or '\'' would be read as a request.
std::string Protected(std::string line) {
  if (!line.empty() && (line[0] == '.' || line[0] == '\'')) line.insert(0, "\\&");
  return line;
}

std::string Quoted(const std::string& text) { return "\"" + Escaped(text) + "\""; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The cells of a table row, split at '|' that is not escaped.
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  const std::string line = Trimmed(row);
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
      cell += "\\|";
      ++i;
    } else if (line[i] == '|') {
      cells.push_back(Trimmed(cell));
      cell.clear();
    } else {
      cell += line[i];
    }
  }
  if (!Trimmed(cell).empty()) cells.push_back(Trimmed(cell));
  return cells;
}

bool Separator(const std::string& row) {
  for (const std::string& cell : Cells(row)) {
    if (cell.find_first_not_of("-: ") != std::string::npos) return false;
  }
  return true;
}

// A table for tbl: the header in bold, every cell a text block so long
// cells wrap, the last column taking the width that is left.
std::string Table(const std::vector<std::string>& rows) {
  std::vector<std::vector<std::string>> cells;
  size_t columns = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r == 1 && Separator(rows[r])) continue;
    cells.push_back(Cells(rows[r]));
    if (cells.back().size() > columns) columns = cells.back().size();
  }
  if (columns == 0) return "";
  std::string head, body;
  for (size_t c = 0; c < columns; ++c) {
    head += (c ? " " : "") + std::string("lb");
    body += (c ? " " : "") + std::string(c + 1 == columns ? "lx" : "l");
  }
  // Unjustified: a narrow cell justified would stretch its spaces.
  std::string out = ".na\n.TS\n" + head + "\n" + body + ".\n";
  for (const std::vector<std::string>& row : cells) {
    for (size_t c = 0; c < columns; ++c) {
      const std::string text = c < row.size() ? RoffInline(row[c]) : "";
      out += (c ? "\t" : "") + std::string("T{\n") + Protected(text) + "\nT}";
    }
    out += "\n";
  }
  return out + ".TE\n.ad\n";
}

std::string Literal(const std::vector<std::string>& lines) {
  std::string out = ".PP\n.nf\n.RS 4\n";
  for (const std::string& line : lines) out += Protected(Escaped(line)) + "\n";
  return out + ".RE\n.fi\n";
}

// A list item that opens with code spans and a colon, "`--frame F`: ...",
// is shown as a tagged paragraph; other items as bullets.
std::string ListItem(const std::string& text) {
  size_t at = 0;
  std::string tag;
  while (at < text.size() && text[at] == '`') {
    const size_t end = text.find('`', at + 1);
    if (end == std::string::npos) break;
    tag += (tag.empty() ? "" : ", ") + std::string("\\fB") +
           Escaped(text.substr(at + 1, end - at - 1)) + "\\fR";
    at = end + 1;
    if (StartsWith(text.substr(at), ", `")) at += 2;
  }
  if (!tag.empty() && at < text.size() && text[at] == ':') {
    return ".TP\n" + Protected(tag) + "\n" + Protected(RoffInline(Trimmed(text.substr(at + 1)))) +
           "\n";
  }
  return ".IP \\(bu 2\n" + Protected(RoffInline(text)) + "\n";
}

bool OpensBlock(const std::string& trimmed) {
  return StartsWith(trimmed, "#") || StartsWith(trimmed, "- ") || StartsWith(trimmed, "|") ||
         StartsWith(trimmed, "```") || StartsWith(trimmed, "<!--");
}

}  // namespace

std::string Roff(const std::string& text) { return Protected(Escaped(text)); }

std::string RoffInline(const std::string& markdown) {
  std::string out, plain;
  bool strong = false;
  const auto flush = [&] {
    const bool wordBefore = !out.empty() && std::isalnum(static_cast<unsigned char>(out.back()));
    out += Escaped(plain, wordBefore);
    plain.clear();
  };
  for (size_t i = 0; i < markdown.size(); ++i) {
    const char c = markdown[i];
    if (c == '\\' && i + 1 < markdown.size() &&
        std::ispunct(static_cast<unsigned char>(markdown[i + 1]))) {
      plain += markdown[++i];
    } else if (c == '`' && markdown.find('`', i + 1) != std::string::npos) {
      const size_t end = markdown.find('`', i + 1);
      flush();
      out += "\\fB" + Escaped(markdown.substr(i + 1, end - i - 1)) + (strong ? "\\fB" : "\\fR");
      i = end;
    } else if (c == '*' && i + 1 < markdown.size() && markdown[i + 1] == '*') {
      flush();
      strong = !strong;
      out += strong ? "\\fB" : "\\fR";
      ++i;
    } else if (c == '[' && markdown.find("](", i) != std::string::npos &&
               markdown.find(')', markdown.find("](", i)) != std::string::npos &&
               markdown.find('\n', i) > markdown.find("](", i)) {
      const size_t middle = markdown.find("](", i);
      flush();
      out += RoffInline(markdown.substr(i + 1, middle - i - 1));
      i = markdown.find(')', middle);
    } else {
      plain += c;
    }
  }
  flush();
  if (strong) out += "\\fR";
  return out;
}

std::string MarkdownToRoff(const std::string& markdown) {
  const std::vector<std::string> lines = Lines(markdown);
  std::string out;
  size_t i = 0;
  while (i < lines.size()) {
    const std::string& line = lines[i];
    const std::string text = Trimmed(line);
    if (text.empty()) {
      ++i;
    } else if (StartsWith(text, "<!--")) {
      while (i < lines.size() && lines[i].find("-->") == std::string::npos) ++i;
      ++i;
    } else if (StartsWith(text, "# ")) {
      ++i;
    } else if (StartsWith(text, "## ")) {
      out += ".SH " + Quoted(Upper(text.substr(3))) + "\n";
      ++i;
    } else if (StartsWith(text, "### ")) {
      out += ".SS " + Quoted(text.substr(4)) + "\n";
      ++i;
    } else if (StartsWith(text, "```")) {
      const size_t indent = Indent(line);
      std::vector<std::string> code;
      for (++i; i < lines.size() && !StartsWith(Trimmed(lines[i]), "```"); ++i) {
        code.push_back(lines[i].substr(std::min(indent, Indent(lines[i]))));
      }
      ++i;
      out += Literal(code);
    } else if (Indent(line) >= 4) {
      std::vector<std::string> code;
      for (; i < lines.size() && (Blank(lines[i]) || Indent(lines[i]) >= 4); ++i) {
        code.push_back(Blank(lines[i]) ? "" : lines[i].substr(4));
      }
      while (!code.empty() && code.back().empty()) code.pop_back();
      out += Literal(code);
    } else if (StartsWith(text, "|")) {
      std::vector<std::string> rows;
      for (; i < lines.size() && StartsWith(Trimmed(lines[i]), "|"); ++i) rows.push_back(lines[i]);
      out += Table(rows);
    } else if (StartsWith(text, "- ")) {
      // The item's lines, then what is indented under it after a blank
      // line (a paragraph or a table of its own), inset below it.
      std::string item = text.substr(2);
      for (++i; i < lines.size() && !Blank(lines[i]) && Indent(lines[i]) >= 2 &&
                !OpensBlock(Trimmed(lines[i]));
           ++i) {
        item += " " + Trimmed(lines[i]);
      }
      out += ListItem(item);
      std::string nested;
      size_t next = i;
      while (next < lines.size() && (Blank(lines[next]) || Indent(lines[next]) >= 2)) {
        nested += (Blank(lines[next]) ? "" : lines[next].substr(2)) + "\n";
        ++next;
      }
      if (!Trimmed(nested).empty()) {
        out += ".RS 2\n" + MarkdownToRoff(nested) + ".RE\n";
        i = next;
      }
    } else {
      std::string paragraph = text;
      for (++i; i < lines.size() && !Blank(lines[i]) && !OpensBlock(Trimmed(lines[i])); ++i) {
        paragraph += " " + Trimmed(lines[i]);
      }
      out += ".PP\n" + Protected(RoffInline(paragraph)) + "\n";
    }
  }
  return out;
}

}  // namespace tilvane_tool
