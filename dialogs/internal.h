// Helpers shared by the framework's own source files (not part of the public interface).
#pragma once

#include "dialogs/common.h"

#include <string>

namespace dialogs {

// Little-endian words and double words, and template texts (UTF-16 with terminator), for the
// in-memory dialog template.
void putTemplateWord(std::string& out, std::uint32_t w);
void putTemplateDword(std::string& out, std::uint32_t d);
void putTemplateText(std::string& out, const std::string& text);

// Whether the chains of parent windows of two windows meet.
bool shareAncestor(HWND a, HWND b);

} // namespace dialogs
