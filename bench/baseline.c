/*
 * The least work a request can do, to compare the board programs with:
 *
 *   baseline read FILE NBYTES    reads FILE whole into memory and writes
 *                                NBYTES (the size of the real page) to
 *                                standard output
 *   baseline write FILE NBYTES   the same, and in between writes FILE
 *                                back once: a temporary file beside it,
 *                                fflush + fsync, close, rename over FILE
 *                                (the board's own policy for replacing a
 *                                message file)
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Reads the whole file; the data stays in memory as a request keeps it. */
static char *read_all(const char *path, size_t *len)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        exit(1);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        perror(path);
        exit(1);
    }
    size_t cap = (size_t)st.st_size + 1, n = 0;
    char *buf = malloc(cap);
    if (!buf) {
        perror("malloc");
        exit(1);
    }
    for (;;) {
        ssize_t got = read(fd, buf + n, cap - n);
        if (got < 0) {
            perror(path);
            exit(1);
        }
        if (got == 0)
            break;
        n += (size_t)got;
        if (n == cap) {
            char *p = realloc(buf, cap *= 2);
            if (!p) {
                perror("realloc");
                exit(1);
            }
            buf = p;
        }
    }
    close(fd);
    *len = n;
    return buf;
}

/* Replaces path with data: temporary file, flush, fsync, rename. */
static void write_back(const char *path, const char *data, size_t len)
{
    size_t plen = strlen(path);
    char *tmp = malloc(plen + 11);
    if (!tmp) {
        perror("malloc");
        exit(1);
    }
    memcpy(tmp, path, plen);
    memcpy(tmp + plen, ".tmpXXXXXX", 11);
    int fd = mkstemp(tmp);
    if (fd < 0) {
        perror(tmp);
        exit(1);
    }
    struct stat st;
    if (stat(path, &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    FILE *fp = fdopen(fd, "wb");
    if (!fp) {
        perror(tmp);
        exit(1);
    }
    int ok = fwrite(data, 1, len, fp) == len;
    ok = ok && fflush(fp) == 0 && fsync(fileno(fp)) == 0;
    if (fclose(fp) != 0)
        ok = 0;
    if (!ok || rename(tmp, path) != 0) {
        perror(path);
        unlink(tmp);
        exit(1);
    }
    free(tmp);
}

/* Writes n bytes taken from data (repeated as needed) to standard output. */
static void write_page(const char *data, size_t len, long n)
{
    static const char fill[] = "<p>page</p>\n";
    if (len == 0) {
        data = fill;
        len = sizeof fill - 1;
    }
    while (n > 0) {
        size_t chunk = (size_t)n < len ? (size_t)n : len;
        if (fwrite(data, 1, chunk, stdout) != chunk) {
            perror("stdout");
            exit(1);
        }
        n -= (long)chunk;
    }
    if (fflush(stdout) != 0) {
        perror("stdout");
        exit(1);
    }
}

int main(int argc, char **argv)
{
    if (argc != 4 || (strcmp(argv[1], "read") != 0 && strcmp(argv[1], "write") != 0)) {
        fprintf(stderr, "usage: baseline read|write FILE NBYTES\n");
        return 2;
    }
    size_t len = 0;
    char *data = read_all(argv[2], &len);
    if (strcmp(argv[1], "write") == 0)
        write_back(argv[2], data, len);
    write_page(data, len, atol(argv[3]));
    free(data);
    return 0;
}
