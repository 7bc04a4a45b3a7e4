/*
 * The least work a board request must do, to time the board programs
 * against. Every request reads its message file once; a request that
 * writes rewrites it durably; a request that makes or checks a password
 * code computes that code. The floor does exactly that and nothing more:
 *
 *   floor [-r FILE]... [-w FILE[:MORE]...]... [-c SETTING]... NBYTES
 *
 *   -r FILE     streams FILE once in 64 KiB reads into one buffer, as cat
 *               to /dev/null does (no whole-file buffer, no page faults
 *               beyond the one buffer)
 *   -w FILE     streams FILE (then each ":"-separated MORE file, for a
 *               merge) into a temporary file beside FILE in 64 KiB pieces,
 *               fsyncs it and renames it over FILE: the durable copy that
 *               replacing a message file safely costs
 *   -c SETTING  one crypt_r of a fixed passphrase with SETTING (a libcrypt
 *               setting or a whole stored code, whose method, cost and
 *               salt it takes), as making or checking a password code does
 *   NBYTES      then writes NBYTES to standard output (the size of the
 *               page the request answers with), taken from the last data
 *               read
 *
 * The options run in the order given. Any failure ends the program with
 * status 1, so that a broken floor is never timed as a fast one.
 */
#define _GNU_SOURCE
#include <crypt.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define CHUNK 65536

static char g_buf[CHUNK];
static size_t g_have;        /* bytes of g_buf holding the last data read */
static const char *g_tmp;    /* the temporary file being written, if any */

/* Ends the program with the failed step named, removing a temporary file
   it left half written. */
static void fail(const char *what)
{
    perror(what);
    if (g_tmp)
        unlink(g_tmp);
    exit(1);
}

/* Writes all of data to fd, across short writes. */
static void write_all(int fd, const char *data, size_t len, const char *what)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(what);
        data += n;
        len -= (size_t)n;
    }
}

/* Streams path in CHUNK reads; each chunk goes to out_fd unless it is -1. */
static void stream(const char *path, int out_fd, const char *out_name)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(path);
    for (;;) {
        ssize_t n = read(fd, g_buf, CHUNK);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(path);
        if (n == 0)
            break;
        g_have = (size_t)n;
        if (out_fd >= 0)
            write_all(out_fd, g_buf, (size_t)n, out_name);
    }
    close(fd);
}

/* The durable copy: the argument names FILE or FILE:MORE:...; the files are streamed
   in order into a temporary file beside FILE, which is fsynced, closed and
   renamed over FILE with FILE's permission bits. */
static void durable_copy(const char *files)
{
    char *list = strdup(files);
    if (!list)
        fail("strdup");
    char *save = NULL;
    char *path = strtok_r(list, ":", &save);
    if (!path) {
        fprintf(stderr, "floor: -w needs a file\n");
        exit(1);
    }
    struct stat st;
    if (stat(path, &st) != 0)
        fail(path);
    size_t plen = strlen(path);
    char *tmp = malloc(plen + 14);
    if (!tmp)
        fail("malloc");
    memcpy(tmp, path, plen);
    memcpy(tmp + plen, ".floorXXXXXX", 13);
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0)
        fail(tmp);
    g_tmp = tmp;
    if (fchmod(fd, st.st_mode & 07777) != 0)
        fail(tmp);
    for (char *p = path; p; p = strtok_r(NULL, ":", &save))
        stream(p, fd, tmp);
    if (fsync(fd) != 0 || close(fd) != 0)
        fail(tmp);
    if (rename(tmp, path) != 0)
        fail(path);
    g_tmp = NULL;
    free(tmp);
    free(list);
}

/* One crypt_r with the setting; a refused setting is a failure. */
static void hash_once(const char *setting)
{
    struct crypt_data *data = calloc(1, sizeof *data);
    if (!data)
        fail("calloc");
    const char *code = crypt_r("floor-passphrase", setting, data);
    if (!code || code[0] == '*') {
        fprintf(stderr, "floor: libcrypt refused the setting %.40s\n", setting);
        exit(1);
    }
    free(data);
}

/* Writes n bytes to standard output from the last data read (or a
   filler when nothing was read), in CHUNK pieces. */
static void write_page(long n)
{
    if (g_have == 0) {
        memset(g_buf, 'x', CHUNK);
        g_have = CHUNK;
    }
    while (n > 0) {
        size_t len = (size_t)n < g_have ? (size_t)n : g_have;
        write_all(1, g_buf, len, "stdout");
        n -= (long)len;
    }
}

/* Prints the usage and ends with status 2. */
static void usage(void)
{
    fprintf(stderr, "usage: floor [-r FILE]... [-w FILE[:MORE]...]... [-c SETTING]... NBYTES\n");
    exit(2);
}

int main(int argc, char **argv)
{
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        const char *arg = argv[i + 1];
        if (strcmp(argv[i], "-r") == 0)
            stream(arg, -1, NULL);
        else if (strcmp(argv[i], "-w") == 0)
            durable_copy(arg);
        else if (strcmp(argv[i], "-c") == 0)
            hash_once(arg);
        else
            usage();
    }
    if (i != argc - 1)
        usage();
    char *end = NULL;
    long n = strtol(argv[i], &end, 10);
    if (!*argv[i] || *end || n < 0)
        usage();
    write_page(n);
    return 0;
}
