// bench_refclient URL ACCOUNT FILE JOBS [--pass-start STEPS] [--per-job STEPS] [--pass-end STEPS]
// The devserver's own request rate for a plan of requests: the pass-start steps once, then for each job the
// per-job steps, then the pass-end steps once; each request answered before the next is sent, as plain and
// fast as an HTTP client can. STEPS is a comma-separated list of:
//   probe       GET /                                       (the server check)
//   printers    GET /Device/BAS_DeviceStatusList?Type=0&UserAccount=A
//   projects    GET /User/BAS_ProjectList?strUserAccount=A
//   permission  GET /User/BAS_UserPermission?UserAccount=A
//   announce    POST /Job/BAS_SubmitPrintJob
//   upload      POST /Job/BAS_UploadJobFile, FILE in 1 MiB chunks (one request per chunk)
//   confirm     POST /Job/BAS_UploadComplete
//   joblist     GET /Job/BAS_JobStausList?UserAccount=A
// Without options the plan is announce, upload, confirm per job. Prints one JSON object with the elapsed
// seconds, the jobs the server confirmed and the requests sent.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string percentEncode(const std::string& s)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool codeIsZero(const httplib::Result& res)
{
    static const std::regex code("\"code\"\\s*:\\s*0[,}\\s]");
    return res && res->status == 200 && std::regex_search(res->body, code);
}

const char* const kSteps[] = { "probe", "printers", "projects", "permission", "announce", "upload", "confirm", "joblist" };

bool parseSteps(const std::string& text, std::vector<std::string>* steps)
{
    steps->clear();
    std::stringstream in(text);
    std::string step;
    while (std::getline(in, step, ',')) {
        if (step.empty()) {
            continue;
        }
        bool known = false;
        for (const char* name : kSteps) {
            known = known || step == name;
        }
        if (!known) {
            std::fprintf(stderr, "bench_refclient: unknown step %s\n", step.c_str());
            return false;
        }
        steps->push_back(step);
    }
    return true;
}

class Reference
{
public:
    Reference(const std::string& url, std::string account, std::string file)
        : m_client(url)
        , m_account(std::move(account))
        , m_file(std::move(file))
    {
        m_client.set_keep_alive(true);
    }

    // One step of the plan for job j; false when the server refused it.
    bool run(const std::string& step, int j)
    {
        ++m_requests;
        if (step == "probe") {
            return bool(m_client.Get("/"));
        }
        if (step == "printers") {
            return codeIsZero(m_client.Get("/Device/BAS_DeviceStatusList?Type=0&UserAccount=" + m_account));
        }
        if (step == "projects") {
            return codeIsZero(m_client.Get("/User/BAS_ProjectList?strUserAccount=" + m_account));
        }
        if (step == "permission") {
            return codeIsZero(m_client.Get("/User/BAS_UserPermission?UserAccount=" + m_account));
        }
        if (step == "joblist") {
            return codeIsZero(m_client.Get("/Job/BAS_JobStausList?UserAccount=" + m_account));
        }
        if (step == "announce") {
            return announce(j);
        }
        if (step == "upload") {
            return upload();
        }
        return confirm();
    }

    bool jobDone() const { return m_uploaded && m_confirmed; }
    int requests() const { return m_requests; }

private:
    bool announce(int j)
    {
        static const std::regex idPattern("\"data\"\\s*:\\s*\"?([0-9A-Za-z-]+)");
        const std::string docName = "reference-" + std::to_string(j) + ".pdf";
        const std::string body = "DocumentPages=1&PageWidth=210&PageHeight=297&Color=false&Orientation=1"
                                 "&DuplexMode=0&Copies=1&Collate=1&FileType=pdf&ControllerMac=&ComputerName=bench"
                                 "&ComputerIP=127.0.0.1&ProjectID=&SecurityLevel=1&UserAccount="
            + m_account + "&FileName=" + percentEncode(docName);
        auto res = m_client.Post("/Job/BAS_SubmitPrintJob", body, "application/x-www-form-urlencoded");
        std::smatch m;
        m_jobId.clear();
        m_uploaded = false;
        m_confirmed = false;
        if (!res || !std::regex_search(res->body, m, idPattern)) {
            std::fprintf(stderr, "bench_refclient: announce failed: %s\n", res ? res->body.c_str() : "no answer");
            return false;
        }
        m_jobId = m[1];
        return true;
    }

    bool upload()
    {
        const size_t chunk = 1048576;
        const std::string path = "/Job/BAS_UploadJobFile?JobID=" + m_jobId + "&FileType=1&FileSize="
            + std::to_string(m_file.size()) + "&UserAccount=" + m_account + "&FileName=" + m_jobId + ".pdf";
        bool ok = true;
        for (size_t off = 0; off < m_file.size(); off += chunk) {
            if (off) {
                ++m_requests; // run() counted the first chunk
            }
            ok = codeIsZero(m_client.Post(path, m_file.substr(off, chunk), "multipart/form-data; boundary=----reference"))
                && ok;
        }
        m_uploaded = ok;
        return ok;
    }

    bool confirm()
    {
        m_confirmed = codeIsZero(m_client.Post("/Job/BAS_UploadComplete",
                                               "JobID=" + m_jobId + "&DirectDeviceJob=false&UserAccount=" + m_account,
                                               "application/x-www-form-urlencoded"));
        return m_confirmed;
    }

    httplib::Client m_client;
    std::string m_account;
    std::string m_file;
    std::string m_jobId;
    bool m_uploaded = false;
    bool m_confirmed = false;
    int m_requests = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || (argc - 5) % 2 != 0) {
        std::fprintf(stderr, "usage: bench_refclient URL ACCOUNT FILE JOBS [--pass-start STEPS] [--per-job STEPS] "
                             "[--pass-end STEPS]\n");
        return 2;
    }
    std::vector<std::string> passStart;
    std::vector<std::string> perJob { "announce", "upload", "confirm" };
    std::vector<std::string> passEnd;
    for (int i = 5; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        bool ok = true;
        if (option == "--pass-start") {
            ok = parseSteps(argv[i + 1], &passStart);
        } else if (option == "--per-job") {
            ok = parseSteps(argv[i + 1], &perJob);
        } else if (option == "--pass-end") {
            ok = parseSteps(argv[i + 1], &passEnd);
        } else {
            std::fprintf(stderr, "bench_refclient: unknown option %s\n", option.c_str());
            ok = false;
        }
        if (!ok) {
            return 2;
        }
    }
    std::ifstream in(argv[3], std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const int jobs = std::atoi(argv[4]);
    Reference reference(argv[1], percentEncode(argv[2]), buffer.str());

    int confirmed = 0;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& step : passStart) {
        ok = reference.run(step, -1) && ok;
    }
    for (int j = 0; j < jobs; ++j) {
        for (const std::string& step : perJob) {
            ok = reference.run(step, j) && ok;
        }
        confirmed += reference.jobDone() ? 1 : 0;
    }
    for (const std::string& step : passEnd) {
        ok = reference.run(step, jobs) && ok;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"seconds\":%.6f,\"jobs\":%d,\"confirmed\":%d,\"requests\":%d,\"all_answered\":%s}\n", seconds, jobs,
                confirmed, reference.requests(), ok ? "true" : "false");
    return confirmed == jobs && ok ? 0 : 1;
}
