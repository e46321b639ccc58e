#!/usr/bin/env python3
"""Renders the help pages of docs/help into HTML pages, manual pages and the project
files of the compiled help file.

    render_help.py SOURCE_DIR OUT_DIR VERSION
    render_help.py --program-help PAGE HEADER

The second form writes the text of `horalin --help`, the page's program-help block, into
a C++ header that the program's command line (hostkit/cli.cpp) includes.

The sources are a small subset of Markdown, one file per page:

  - a header of "key: value" lines, ended by a blank line: html (the HTML file), man
    (the manual page file, optional), name and section (the manual page's name and
    section), summary (the one-line description);
  - "# Title" (the page title), "## Section", "### Subsection";
  - paragraphs; "- " list items (continued by lines indented two blanks);
  - definition items: a term line followed by ": " and the definition;
  - tables: "| a | b |" rows, the second row "|---|---|";
  - fenced code blocks between lines of three back quotes; one opened by
    "```program-help" is the text of `horalin --help`: not shown on the page (the
    synopsis and the commands say it at length), it is the program's own;
  - inline `code`, *emphasis*, **strong** and [links](page.html#anchor).

HTML output is plain ASCII (other characters as numeric entities) so that any viewer
reads it whatever its idea of the encoding; manual pages are ASCII roff with tbl tables.
"""

import html
import os
import re
import sys

VERSION = ""  # from the build: project(VERSION) in CMakeLists.txt
DATE = "2026-12-01"  # the date the manual pages carry; fixed so that builds repeat

PAGES = ["index.md", "ts.md", "f_datefmt.md", "program.md"]

STYLE = """
body { font-family: Segoe UI, Helvetica, Arial, sans-serif; font-size: 10pt; margin: 1em 2em; color: #222; max-width: 60em; }
h1 { font-size: 18pt; border-bottom: 2px solid #4a6fa5; padding-bottom: 4px; }
h2 { font-size: 13pt; margin-top: 1.6em; color: #2c4a7a; }
h3 { font-size: 11pt; margin-top: 1.2em; }
code, pre { font-family: Consolas, Courier New, monospace; }
code { background: #f2f2f2; padding: 0 2px; white-space: pre-wrap; }
pre { background: #f2f2f2; border: 1px solid #ddd; padding: 6px 8px; }
table { border-collapse: collapse; margin: 0.6em 0; }
th, td { border: 1px solid #bbb; padding: 3px 6px; vertical-align: top; text-align: left; }
th { background: #e4eaf3; }
dt { margin-top: 0.6em; font-weight: bold; }
dd { margin-left: 2em; }
nav { font-size: 9pt; border-bottom: 1px solid #ddd; padding-bottom: 4px; }
nav a { margin-right: 1.2em; }
""".strip()

NAV = [("Horalin.html", "Contents"), ("ts.html", "TS"), ("f_datefmt.html", "@DATEFMT"),
       ("program.html", "The horalin program")]


# ---- Parsing ------------------------------------------------------------------------

def parse(text):
    """Returns (header, blocks). Blocks are tuples: (kind, ...)."""
    lines = text.split("\n")
    header = {}
    i = 0
    while i < len(lines) and lines[i].strip():
        key, _, value = lines[i].partition(":")
        header[key.strip()] = value.strip()
        i += 1
    blocks = []
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
            continue
        if line.startswith("```"):
            i += 1
            code = []
            while i < len(lines) and not lines[i].startswith("```"):
                code.append(lines[i])
                i += 1
            i += 1
            if line.strip() == "```program-help":
                header["program-help"] = code
            else:
                blocks.append(("code", code))
            continue
        m = re.match(r"(#{1,3}) (.*)", line)
        if m:
            blocks.append(("heading", len(m.group(1)), m.group(2).strip()))
            i += 1
            continue
        if line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = [c.strip() for c in lines[i].strip().strip("|").split("|")]
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            blocks.append(("table", rows))
            continue
        if line.startswith("- "):
            items = []
            while i < len(lines) and (lines[i].startswith("- ") or lines[i].startswith("  ")):
                if lines[i].startswith("- "):
                    items.append(lines[i][2:].strip())
                else:
                    items[-1] += " " + lines[i].strip()
                i += 1
            blocks.append(("list", items))
            continue
        if i + 1 < len(lines) and lines[i + 1].startswith(": "):
            term = line.strip()
            i += 1
            definition = lines[i][2:].strip()
            i += 1
            while i < len(lines) and lines[i].startswith("  ") and lines[i].strip():
                definition += " " + lines[i].strip()
                i += 1
            if blocks and blocks[-1][0] == "definitions":
                blocks[-1][1].append((term, definition))
            else:
                blocks.append(("definitions", [(term, definition)]))
            continue
        paragraph = []
        while i < len(lines) and lines[i].strip() and not lines[i].startswith(("```", "|", "- ", "#")):
            paragraph.append(lines[i].strip())
            i += 1
        blocks.append(("paragraph", " ".join(paragraph)))
    return header, blocks


INLINE = re.compile(r"(`[^`]+`|\*\*[^*]+\*\*|\*[^*]+\*|\[[^\]]+\]\([^)]+\))")


def inline_parts(text):
    """Splits text into (kind, text[, target]) parts."""
    parts = []
    for piece in INLINE.split(text):
        if not piece:
            continue
        if piece.startswith("`"):
            parts.append(("code", piece[1:-1]))
        elif piece.startswith("**"):
            parts.append(("strong", piece[2:-2]))
        elif piece.startswith("*"):
            parts.append(("em", piece[1:-1]))
        elif piece.startswith("["):
            m = re.fullmatch(r"\[([^\]]+)\]\(([^)]+)\)", piece)
            parts.append(("link", m.group(1), m.group(2)))
        else:
            parts.append(("text", piece))
    return parts


def slug(text):
    text = re.sub(r"[`*]", "", text).lower()
    text = re.sub(r"[^a-z0-9]+", "-", text).strip("-")
    return text or "section"


# ---- HTML ---------------------------------------------------------------------------

def html_text(text):
    escaped = html.escape(text, quote=True)
    return "".join(c if ord(c) < 128 else "&#x%X;" % ord(c) for c in escaped)


def html_inline(text):
    out = []
    for part in inline_parts(text):
        kind = part[0]
        if kind == "code":
            out.append("<code>%s</code>" % html_text(part[1]))
        elif kind == "strong":
            out.append("<strong>%s</strong>" % html_inline(part[1]))
        elif kind == "em":
            out.append("<em>%s</em>" % html_inline(part[1]))
        elif kind == "link":
            out.append('<a href="%s">%s</a>' % (html_text(part[2]), html_inline(part[1])))
        else:
            out.append(html_text(part[1]))
    return "".join(out)


def render_html(header, blocks):
    title = header.get("title", "Horalin")
    body = []
    for block in blocks:
        kind = block[0]
        if kind == "heading":
            level, text = block[1], block[2]
            anchor = "" if level == 1 else ' id="%s"' % slug(text)
            body.append("<h%d%s>%s</h%d>" % (level, anchor, html_inline(text), level))
        elif kind == "paragraph":
            body.append("<p>%s</p>" % html_inline(block[1]))
        elif kind == "list":
            body.append("<ul>\n%s\n</ul>" % "\n".join("<li>%s</li>" % html_inline(t) for t in block[1]))
        elif kind == "definitions":
            items = ["<dt>%s</dt>\n<dd>%s</dd>" % (html_inline(t), html_inline(d)) for t, d in block[1]]
            body.append("<dl>\n%s\n</dl>" % "\n".join(items))
        elif kind == "table":
            rows = block[1]
            out = ["<table>", "<tr>%s</tr>" % "".join("<th>%s</th>" % html_inline(c) for c in rows[0])]
            for row in rows[1:]:
                out.append("<tr>%s</tr>" % "".join("<td>%s</td>" % html_inline(c) for c in row))
            out.append("</table>")
            body.append("\n".join(out))
        elif kind == "code":
            body.append("<pre>%s</pre>" % html_text("\n".join(block[1])))
    nav = " ".join('<a href="%s">%s</a>' % (href, html_text(label)) for href, label in NAV)
    return """<!DOCTYPE html>
<html lang="en">
<head>
<meta http-equiv="Content-Type" content="text/html; charset=us-ascii">
<meta http-equiv="X-UA-Compatible" content="IE=edge">
<title>%s</title>
<style>
%s
</style>
</head>
<body>
<nav>%s</nav>
%s
</body>
</html>
""" % (html_text(title), STYLE, nav, "\n".join(body))


# ---- Manual pages -------------------------------------------------------------------

def roff_text(text, literal=False):
    out = []
    for c in text:
        if c == "\\":
            out.append("\\e")
        elif c == "-":
            out.append("\\-")
        elif c == "'" and literal:
            out.append("\\(aq")
        elif c == "`" and literal:
            out.append("\\(ga")
        elif c == "\t":
            out.append(" ")
        elif ord(c) >= 128:
            out.append("\\[u%04X]" % ord(c))
        else:
            out.append(c)
    return "".join(out)


def roff_inline(text):
    out = []
    for part in inline_parts(text):
        kind = part[0]
        if kind == "code":
            out.append("\\fB%s\\fR" % roff_text(part[1], literal=True))
        elif kind == "strong":
            out.append("\\fB%s\\fR" % roff_inline(part[1]))
        elif kind == "em":
            out.append("\\fI%s\\fR" % roff_inline(part[1]))
        elif kind == "link":
            out.append(roff_inline(part[1]))
        else:
            out.append(roff_text(part[1]))
    return "".join(out)


def roff_line(text):
    """A text line that roff does not take for a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def render_man(header, blocks):
    name = header["name"]
    section = header.get("section", "1")
    out = ["'\\\" t",
           '.TH "%s" "%s" "%s" "Horalin %s" "Horalin manual"' % (name.upper(), section, DATE, VERSION),
           ".nh", ".ad l", ".SH NAME", roff_line("%s \\- %s" % (roff_text(name), roff_text(header["summary"])))]
    for block in blocks:
        kind = block[0]
        if kind == "heading":
            level, text = block[1], block[2]
            if level == 1:
                continue
            plain = re.sub(r"[`*]", "", text)
            out.append((".SH \"%s\"" if level == 2 else ".SS \"%s\"") % roff_text(plain.upper() if level == 2 else plain))
        elif kind == "paragraph":
            out += [".PP", roff_line(roff_inline(block[1]))]
        elif kind == "list":
            for item in block[1]:
                out += [".IP \\(bu 2", roff_line(roff_inline(item))]
        elif kind == "definitions":
            for term, definition in block[1]:
                out += [".TP", roff_line(roff_inline(term)), roff_line(roff_inline(definition))]
        elif kind == "table":
            rows = block[1]
            columns = len(rows[0])
            # Short columns keep their natural width; long ones share the rest of the line.
            wide = [max(len(row[c]) if c < len(row) else 0 for row in rows) > 18 for c in range(columns)]
            heading = " ".join("lbx" if w else "lb" for w in wide)
            body = " ".join("lx" if w else "l" for w in wide)
            out += [".PP", ".TS", "allbox tab(\t);", heading + ",", body + "."]
            for row in rows:
                cells = []
                for c, cell in enumerate((row + [""] * columns)[:columns]):
                    text = roff_inline(cell)
                    cells.append("T{\n%s\nT}" % roff_line(text) if wide[c] and text else (text or "\\&"))
                out.append("\t".join(cells))
            out.append(".TE")
        elif kind == "code":
            out += [".PP", ".RS 4", ".nf"]
            out += [roff_line(roff_text(line, literal=True)) for line in block[1]]
            out += [".fi", ".RE"]
    return "\n".join(out) + "\n"


# ---- Compiled help project ----------------------------------------------------------

def render_chm_project(pages, out_dir):
    files = [page["html"] for page in pages]
    with open(os.path.join(out_dir, "Horalin.hhp"), "w", newline="\r\n") as f:
        f.write("[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=Horalin.chm\n"
                "Contents file=Horalin.hhc\nIndex file=Horalin.hhk\nDefault topic=Horalin.html\n"
                "Display compile progress=No\nFull-text search=Yes\nLanguage=0x409 English (United States)\n"
                "Title=Horalin Help\n\n[FILES]\n" + "\n".join(files) + "\n")
    entries = []
    keywords = []
    for page in pages:
        entries.append((page["title"], page["html"], [(h, page["html"] + "#" + slug(h)) for h in page["sections"]]))
        keywords.append((page["title"], page["html"]))
        for h in page["sections"]:
            keywords.append(("%s: %s" % (page["title"], re.sub(r"[`*]", "", h)), page["html"] + "#" + slug(h)))

    def item(name, local):
        return ('<LI> <OBJECT type="text/sitemap">\n<param name="Name" value="%s">\n'
                '<param name="Local" value="%s">\n</OBJECT>\n' % (html_text(re.sub(r"[`*]", "", name)), local))

    head = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML>\n<BODY>\n"
    with open(os.path.join(out_dir, "Horalin.hhc"), "w", newline="\r\n") as f:
        f.write(head + "<UL>\n")
        for title, local, sections in entries:
            f.write(item(title, local))
            if sections:
                f.write("<UL>\n" + "".join(item(h, l) for h, l in sections) + "</UL>\n")
        f.write("</UL>\n</BODY>\n</HTML>\n")
    with open(os.path.join(out_dir, "Horalin.hhk"), "w", newline="\r\n") as f:
        f.write(head + "<UL>\n" + "".join(item(k, l) for k, l in sorted(keywords)) + "</UL>\n</BODY>\n</HTML>\n")


def with_version(text):
    """The pages name the version as @VERSION@ (major.minor.build) and @BUILD@."""
    return text.replace("@VERSION@", VERSION).replace("@BUILD@", VERSION.split(".")[2])


# ---- The program's --help text ------------------------------------------------------

def cxx_text(line):
    """A line as a C++ UTF-16 literal, with the program's CR LF line end."""
    out = []
    for c in line:
        if c in "\\\"":
            out.append("\\" + c)
        elif 32 <= ord(c) < 127:
            out.append(c)
        else:
            out.append("\\u%04X" % ord(c))
    return 'u"%s\\r\\n"' % "".join(out)


def render_program_help(page, out_file):
    with open(page, encoding="utf-8") as f:
        header, _ = parse(f.read())
    lines = header["program-help"]
    text = ["// Generated by scripts/render_help.py from the program-help block of docs/help/program.md:",
            "// the text of `horalin --help`.",
            "#pragma once", "", "namespace horalin::hostkit {", "",
            "inline constexpr char16_t kProgramHelp[] ="]
    text += ["    " + cxx_text(line) for line in lines]
    text[-1] += ";"
    text += ["", "}  // namespace horalin::hostkit", ""]
    os.makedirs(os.path.dirname(out_file), exist_ok=True)
    with open(out_file, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(text))


def main():
    global VERSION
    if len(sys.argv) == 4 and sys.argv[1] == "--program-help":
        render_program_help(sys.argv[2], sys.argv[3])
        return
    if len(sys.argv) != 4:
        sys.exit("usage: render_help.py SOURCE_DIR OUT_DIR VERSION | --program-help PAGE HEADER")
    source, out_dir, VERSION = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(out_dir, exist_ok=True)
    pages = []
    for name in PAGES:
        with open(os.path.join(source, name), encoding="utf-8") as f:
            header, blocks = parse(with_version(f.read()))
        with open(os.path.join(out_dir, header["html"]), "w", encoding="ascii", newline="\n") as f:
            f.write(render_html(header, blocks))
        if "man" in header:
            with open(os.path.join(out_dir, header["man"]), "w", encoding="ascii", newline="\n") as f:
                f.write(render_man(header, blocks))
        pages.append({"html": header["html"], "title": header.get("title", ""),
                      "sections": [b[2] for b in blocks if b[0] == "heading" and b[1] == 2]})
    render_chm_project(pages, out_dir)


if __name__ == "__main__":
    main()
