// The tool's reference is kept as Markdown (docs/tilvane.md) and shown as
// the manual page: these turn that Markdown, in the forms the reference
// uses, into man(7) roff.
#pragma once

#include <string>

namespace tilvane_tool {

// Text for a roff text line: backslashes and option dashes escaped, the
// characters beyond ASCII the reference uses as glyphs every device has (so
// that the page shows in any locale), others as groff's \[uXXXX], and a
// leading '.' or '\'' kept from reading as a request.
std::string Roff(const std::string& text);

// One Markdown line's inline markup as roff: `code` and **strong** in bold,
// [text](target) as its text, a backslash escape as the character.
std::string RoffInline(const std::string& markdown);

// Markdown blocks as man(7) requests: "## Name" a section (.SH, in capitals),
// "### Name" a subsection, paragraphs, "- " lists (an item opening with
// `code`: a tagged paragraph, as option lists are shown), their indented
// continuations, tables (for tbl), fenced and indented code. A "# " title
// and HTML comments are left out: the page has its own.
std::string MarkdownToRoff(const std::string& markdown);

}  // namespace tilvane_tool
