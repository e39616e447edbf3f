// CCas_XML: the protocol object of the CAS label scales served through XML
// job files. It never talks to the scale: for each job it writes the job
// file XWS_QUERY.xml into the temporary directory, runs the CAS transfer
// program ./CASCale.exe with the file's path, waits for it and, for reads,
// reads the result file the program wrote (XWR_PLU.XML, XWR_DEPT.XML).
//
// Every error code's text is "Cas_XML".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "drivers/common/scale_records.h"
#include "platform/process.h"
#include "util/chrarr.h"

class CCas_XML : public CTelepathyECR {
public:
    using PluCallback = std::function<void(const CasPluRecord&)>;
    using DeptCallback = std::function<void(const CasDeptRecord&)>;

    CCas_XML();
    ~CCas_XML() override;

    using CTelepathyECR::Open;
    // Keeps the scale's address (device record word 1); the other words
    // are accepted and not used. 1.
    int Open(uint32_t address, int kind, int word7, int word8);
    void Close();

    std::string GetErrorText(int code) override;

    // ---- the send job, driven by the logic class ----
    int BeginSendJob();                              // head of the job file; 0: error 9999
    int WritePluRecord(const CasPluRecord& rec);     // 1, or 0 with 105/109 (nothing written)
    int WriteJobFooter();                            // closes the file; 0: error 9999
    int RunCASCale();                                // 1, or 0 with 9999 (not started) or -7

    // ---- complete jobs ----
    int DeletePLURange(const CasPluRecord& rec);
    int ReadPLUs(const PluCallback& callback);
    int ReadDepartments(const DeptCallback& callback);

    // Reading a result file (public for the tests of the readers).
    int ParsePLUFile(const std::string& path, const PluCallback& callback);
    int ParseDeptFile(const std::string& path, const DeptCallback& callback);

    // Escaped attribute or element text: & < > " as references, bytes
    // below 0x20 as a blank.
    static std::string Escape(const std::string& text);

    std::string JobFilePath() const;
    std::string PluResultPath() const;
    std::string DeptResultPath() const;

    // The runner of the transfer program (tests record calls through it).
    void SetProcessRunner(orv::platform::ProcessRunner* runner);

private:
    enum class Job { Send, Delete, ReadPlu, ReadDept };
    int WriteHead(Job job);
    int WriteBytesLine(const CChrArr& bytes);   // appends CR LF; only while the file is open
    int WriteLine(const std::string& text);
    void CloseJobFile();
    int PauseBeforeRun();                 // 1, or 0 with -7
    int RunReadJob(Job job, const std::string& resultPath);
    int LoadResult(const std::string& path, std::string& utf8);

    uint8_t m_bJobFileOpen = 0;
    uint32_t m_address = 0;
    int m_jobFd = -1;
    bool m_writeFailed = false;
    std::string m_resultPath;
    orv::platform::ProcessRunner* m_runner;
};
