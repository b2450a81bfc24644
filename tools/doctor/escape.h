#pragma once

#include <string>

// `text` (UTF-8 or UTF-16) made safe to print within one line: control characters (C0, DEL, C1),
// line and paragraph separators and bidirectional controls as \n, \r, \t, \xNN or \uNNNN, bytes
// that are not UTF-8 as \xNN, lone surrogates as \uNNNN. With `quoted`, '"' and '\\' are escaped
// too and the result is put in quotes.
std::string Escaped(const std::string& text, bool quoted = false);
std::string Escaped(const std::wstring& text, bool quoted = false);
