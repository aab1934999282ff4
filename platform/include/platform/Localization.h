#pragma once
// The component's own user-visible texts (screen controls, the composer, the
// banner's accessible name) in the user's language. The catalogues of the
// text domain "nimbra" are installed with the library, under share/locale
// beside it; the language comes from the desktop's locale (the process's
// LC_MESSAGES, which the toolkit sets from the environment at start-up).
// Without a catalogue for it, the English text is shown.

namespace platform {

inline constexpr const char kTextDomain[] = "nimbra";

// The text in the message language of the process. The argument is the
// English text and the key in the catalogues (xgettext --keyword=localized);
// the result lives as long as the process.
const char* localized(const char* text);

}  // namespace platform
