// Benchmarks of the form decoder on the largest bodies a request may
// carry, each decoded as a CGI request is: in a child process whose
// standard input is the body, through CRukForm::QueryString. Besides the
// time, each case reports the body size and the child's peak resident
// memory above what it used before decoding (the kernel's high-water mark,
// reset in the child just before), so that "memory a small multiple of
// the body" can be read off directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "rukform.h"
#include "rukglobal.h"

namespace {

const char* const s_pBoundary = "----RukBenchFormBoundary";

// A URL-encoded body of nFields fields of nValue bytes each, about nBytes
// in all when nFields is 0 (then as many empty fields as fit).
std::string UrlEncoded(int nFields, size_t nValue, size_t nBytes)
{
    std::string body;
    if (nFields == 0) {
        body.reserve(nBytes);
        while (body.size() + 3 <= nBytes)
            body += "a=&";
        return body;
    }
    std::string value(nValue, 'x');
    for (int i = 0; i < nFields; i++)
        body += (i ? "&f" : "f") + std::to_string(i) + "=" + value;
    return body;
}

// A multipart post: a few text fields and one file of nFile bytes.
std::string MultipartUpload(size_t nFile)
{
    const std::string head =
        std::string("--") + s_pBoundary + "\r\nContent-Disposition: form-data; ";
    std::string body;
    const char* const fields[] = {"bid", "name", "title", "mess", "passwd"};
    for (const char* f : fields)
        body += head + "name=\"" + f + "\"\r\n\r\nvalue\r\n";
    body += head + "name=\"file0\"; filename=\"big.bin\"\r\n"
                   "Content-Type: application/octet-stream\r\n\r\n";
    body.append(nFile, '\xA5');
    body += std::string("\r\n--") + s_pBoundary + "--\r\n";
    return body;
}

struct Result {
    double extraMiB = -1;  // peak RSS above the child's RSS before decoding
    int nFields = -1;
    int nRefusal = -1;
};

// A "Name:  N kB" line of /proc/self/status, in KiB; -1 when missing.
long StatusKb(const char* pName)
{
    FILE* fp = fopen("/proc/self/status", "r");
    if (!fp)
        return -1;
    char line[256];
    long n = -1;
    while (fgets(line, sizeof(line), fp))
        if (strncmp(line, pName, strlen(pName)) == 0)
            n = atol(line + strlen(pName));
    fclose(fp);
    return n;
}

// Resets the peak RSS of this process to its current RSS.
bool ResetPeak()
{
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    bool bOk = fd >= 0 && write(fd, "5", 1) == 1;
    if (fd >= 0)
        close(fd);
    return bOk;
}

// A file holding the body, read from its start; -1 on failure.
int BodyFile(const std::string& body)
{
    char szPath[] = "/tmp/ruk-bench-form-XXXXXX";
    int fd = mkstemp(szPath);
    if (fd < 0)
        return -1;
    unlink(szPath);
    if (write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

// Decodes the body file (nSize bytes) as a POST of the given type in a
// child process.
Result DecodeInChild(const std::string& type, int fdBody, size_t nSize)
{
    Result res;
    int fds[2];
    if (fdBody < 0 || pipe(fds) != 0)
        return res;
    lseek(fdBody, 0, SEEK_SET);
    std::string length = std::to_string(nSize);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_LENGTH", length.c_str(), 1);
        setenv("CONTENT_TYPE", type.c_str(), 1);
        setenv("QUERY_STRING", "", 1);
        go.m_env.GetEnv();
        dup2(fdBody, 0);
        // Free memory kept from the parent would make the decoder's first
        // allocations cost no new pages: give it back first.
        malloc_trim(0);
        if (!ResetPeak())
            _exit(2);
        long nBefore = StatusKb("VmRSS:");
        CRukForm form;
        int n = form.QueryString();
        long nPeak = StatusKb("VmHWM:");
        char sz[64];
        int len = snprintf(sz, sizeof(sz), "%ld %d %d", nPeak - nBefore, n,
                           static_cast<int>(form.GetRefusal()));
        if (write(fds[1], sz, static_cast<size_t>(len)) != len)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    char sz[64] = {0};
    ssize_t nRead = read(fds[0], sz, sizeof(sz) - 1);
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || nRead <= 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return res;
    long nExtra = 0;
    if (sscanf(sz, "%ld %d %d", &nExtra, &res.nFields, &res.nRefusal) != 3)
        return res;
    res.extraMiB = static_cast<double>(nExtra) / 1024.0;
    return res;
}

// range(0) picks the body: 0 empty-field bomb of 60 MB (refused), 1 a
// thousand fields of 60 KB (60 MB, accepted), 2 a multipart upload of a
// 30 MB file.
void BM_FormDecodePeak(benchmark::State& state)
{
    std::string type = "application/x-www-form-urlencoded";
    std::string body;
    switch (state.range(0)) {
    case 0:
        body = UrlEncoded(0, 0, 60u * 1000 * 1000);
        state.SetLabel("60 MB of empty fields");
        break;
    case 1:
        body = UrlEncoded(CRukForm::s_nMaxFields, 60 * 1000, 0);
        state.SetLabel("1000 fields of 60 KB");
        break;
    default:
        body = MultipartUpload(30u * 1000 * 1000);
        type = std::string("multipart/form-data; boundary=") + s_pBoundary;
        state.SetLabel("30 MB file upload");
        break;
    }
    // The body lives in a file only, so that the child starts small.
    int fd = BodyFile(body);
    size_t nSize = body.size();
    std::string().swap(body);
    Result res;
    for (auto _ : state)
        res = DecodeInChild(type, fd, nSize);
    close(fd);
    if (res.extraMiB < 0)
        state.SkipWithError("the decoding child failed (is /proc/self/clear_refs there?)");
    double bodyMiB = static_cast<double>(nSize) / (1024.0 * 1024.0);
    state.counters["body_MiB"] = bodyMiB;
    state.counters["peak_extra_MiB"] = res.extraMiB;
    state.counters["per_body"] = res.extraMiB / bodyMiB;
    state.counters["fields"] = res.nFields;
    state.counters["refusal"] = res.nRefusal;
}
BENCHMARK(BM_FormDecodePeak)->Arg(0)->Arg(1)->Arg(2)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
