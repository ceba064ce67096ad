#pragma once

// Maps the window fonts the program is designed with to installed
// counterparts (IPAPGothic for "ＭＳ Ｐゴシック"), so Japanese texts render in
// the intended face.  Idempotent; call before creating windows.
void installFontSubstitutions();
