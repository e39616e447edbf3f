// CDatecsMP500: the Datecs MP500 scales through the maker's library, which
// does all the line work. The object keeps the connection values and calls
// the library; articles go out through a pull callback and come back
// through a push callback.
#pragma once

#include <string>

#include "comm/telepathy_ecr.h"
#include "drivers/mp500/mp500_dll.h"

class CDatecsMP500 : public CTelepathyECR {
public:
    static constexpr const char* kLibraryName = "MP500_DLL.dll";

    // Stores the values (a baud other than 9600 becomes 4800) and loads the
    // library: 0 with 999999 and a text naming the file or entry point when
    // it cannot.
    int Open(int port, int baud, int logical);
    using CTelepathyECR::Open;

    // 1 for success; 0 with the library's result as the error (1..8, any
    // other 9999), its text shown in a message box.
    int SendArticles(MP500Callback pull, void* context);
    int DeleteArticles(MP500Callback pull, void* context);
    int ReceiveArticles(MP500Callback push, void* context);
    int ZeroPLUCounters();

    std::string GetErrorText(int code) override;

    int Baud() const { return m_baud; }
    int Logical() const { return m_logical; }

private:
    int Result(int r);
    int NotLoaded();

    int m_logical = 0;
    int m_baud = 4800;
    std::string m_loadText;
};
