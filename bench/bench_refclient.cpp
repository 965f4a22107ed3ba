// bench_refclient URL ACCOUNT FILE JOBS
// The devserver's own request rate: for each job, announce it, upload FILE in 1 MiB chunks and confirm,
// each request answered before the next is sent, as plain and fast as an HTTP client can. Prints one JSON
// object with the elapsed seconds and the number of jobs the server confirmed.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_refclient URL ACCOUNT FILE JOBS\n");
        return 2;
    }
    const std::string url = argv[1];
    const std::string account = percentEncode(argv[2]);
    std::ifstream in(argv[3], std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string file = buffer.str();
    const int jobs = std::atoi(argv[4]);
    const size_t chunk = 1048576;

    httplib::Client client(url);
    client.set_keep_alive(true);
    const std::string boundary = "multipart/form-data; boundary=----reference";
    const std::regex idPattern("\"data\"\\s*:\\s*\"?([0-9A-Za-z-]+)");

    int confirmed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int j = 0; j < jobs; ++j) {
        const std::string docName = "reference-" + std::to_string(j) + ".pdf";
        const std::string announce = "DocumentPages=1&PageWidth=210&PageHeight=297&Color=false&Orientation=1"
                                     "&DuplexMode=0&Copies=1&Collate=1&FileType=pdf&ControllerMac=&ComputerName=bench"
                                     "&ComputerIP=127.0.0.1&ProjectID=&SecurityLevel=1&UserAccount="
            + account + "&FileName=" + percentEncode(docName);
        auto res = client.Post("/Job/BAS_SubmitPrintJob", announce, "application/x-www-form-urlencoded");
        std::smatch m;
        if (!res || !std::regex_search(res->body, m, idPattern)) {
            std::fprintf(stderr, "bench_refclient: announce failed: %s\n", res ? res->body.c_str() : "no answer");
            return 1;
        }
        const std::string jobId = m[1];
        const std::string uploadPath = "/Job/BAS_UploadJobFile?JobID=" + jobId + "&FileType=1&FileSize="
            + std::to_string(file.size()) + "&UserAccount=" + account + "&FileName=" + jobId + ".pdf";
        bool uploaded = true;
        for (size_t off = 0; off < file.size(); off += chunk) {
            auto up = client.Post(uploadPath, file.substr(off, chunk), boundary);
            uploaded = uploaded && codeIsZero(up);
        }
        auto done
            = client.Post("/Job/BAS_UploadComplete", "JobID=" + jobId + "&DirectDeviceJob=false&UserAccount=" + account,
                          "application/x-www-form-urlencoded");
        confirmed += uploaded && codeIsZero(done) ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"seconds\":%.6f,\"jobs\":%d,\"confirmed\":%d}\n", seconds, jobs, confirmed);
    return confirmed == jobs ? 0 : 1;
}
