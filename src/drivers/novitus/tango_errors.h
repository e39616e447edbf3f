// The Novitus registers' own error texts, as the Tango protocol classes name
// them: CProtokolTango knows the whole list, CTango only codes 1 to 40 (those
// present), 260, 261, 273 and 277. Trailing blanks are part of the texts.
#pragma once

// The text of a register code (code page 1250), or null when the list has
// none for it.
const char* TangoDeviceText(int code, bool fullList);
