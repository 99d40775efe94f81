// The system's texts on Windows, in our own encoding. Every path and text
// of ours is UTF-8; Windows holds names, window texts, its messages and the
// command line in UTF-16. The Win32 code of every folder (the disk layer,
// the windows, the file dialogs, the serial ports, the programs' entry
// points) converts here, right at the call that hands a text to the system
// or takes one from it, and uses the wide (...W) call wherever a name or a
// text that may be more than ASCII goes through: the ANSI calls would read
// and write it in the ANSI code page.
//
// The header needs no Windows header, so that it may come before the
// framework's names (framework/win32/win32.h includes it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace win32 {

// A name (a path) in UTF-16 for a wide call. False when it is not UTF-8, or
// holds a NUL, which would end the name early: either would name another
// file than the one meant.
bool ToUtf16(std::string_view utf8, std::wstring& wide);
// A text to show in UTF-16: what is not UTF-8 in it shows as U+FFFD.
std::wstring Widen(std::string_view utf8);
// A text from the system in UTF-8: a lone surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view wide);
// The system's words for an error code (GetLastError's), without the line
// end and full stop; "error 1234" when it has none.
std::string SystemMessage(unsigned long error);
// The program's command line as main() takes it, but in UTF-8: the words
// as the system splits its UTF-16 command line (CommandLineToArgvW), the
// program's name first, and a null pointer after the last.
class Utf8Arguments {
  public:
    Utf8Arguments();
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    int Count() const { return static_cast<int>(m_words.size()); }
    char** Pointers() { return m_pointers.data(); }

  private:
    std::vector<std::string> m_words;
    std::vector<char*> m_pointers;
};

}  // namespace win32
