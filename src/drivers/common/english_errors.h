// The English error texts of the registers that answer with the Adax-style
// codes (Adax, CR-280, Optimus, Dibal): codes 1 to 14 and 16.
#pragma once

// The text for a code of the table, or nullptr for any other code (the
// caller then takes the common text).
const char* EnglishErrorText(int code);
