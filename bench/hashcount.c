/*
 * Counts the password codes a request computes. Loaded with LD_PRELOAD
 * into a board program for one untimed run, it stands in front of
 * libcrypt's hashing calls (crypt, crypt_r, crypt_rn, crypt_ra), passes
 * each on unchanged, and appends one line per call to the file named by
 * RUK_BENCH_HASHES: the setting as passed (method, cost and salt, or a
 * whole stored code; never the passphrase). bench/run hands these
 * settings to the floor's hashes and shows how many codes each request
 * computed.
 *
 *   cc -shared -fPIC -o hashcount.so hashcount.c -ldl
 */
#define _GNU_SOURCE
#include <crypt.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Appends the setting to the log as it was passed (a fresh setting or a
   whole stored code: method, cost, salt and perhaps the code, never the
   passphrase), one line written in one write(2). */
static void note(const char *setting)
{
    const char *path = getenv("RUK_BENCH_HASHES");
    if (!path || !setting)
        return;
    char line[512];
    size_t len = strnlen(setting, sizeof line - 1);
    for (size_t i = 0; i < len; i++)
        line[i] = setting[i] == '\n' ? '?' : setting[i];
    line[len] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ssize_t n = write(fd, line, len + 1);
    (void)n;
    close(fd);
}

typedef char *(*crypt_fn)(const char *, const char *);
typedef char *(*crypt_r_fn)(const char *, const char *, struct crypt_data *);
typedef char *(*crypt_rn_fn)(const char *, const char *, void *, int);
typedef char *(*crypt_ra_fn)(const char *, const char *, void **, int *);

/* The real function of that name in the libraries loaded after this one. */
static void *real(const char *name)
{
    return dlsym(RTLD_NEXT, name);
}

char *crypt(const char *phrase, const char *setting)
{
    crypt_fn f = (crypt_fn)real("crypt");
    note(setting);
    return f ? f(phrase, setting) : NULL;
}

char *crypt_r(const char *phrase, const char *setting, struct crypt_data *data)
{
    crypt_r_fn f = (crypt_r_fn)real("crypt_r");
    note(setting);
    return f ? f(phrase, setting, data) : NULL;
}

char *crypt_rn(const char *phrase, const char *setting, void *data, int size)
{
    crypt_rn_fn f = (crypt_rn_fn)real("crypt_rn");
    note(setting);
    return f ? f(phrase, setting, data, size) : NULL;
}

char *crypt_ra(const char *phrase, const char *setting, void **data, int *size)
{
    crypt_ra_fn f = (crypt_ra_fn)real("crypt_ra");
    note(setting);
    return f ? f(phrase, setting, data, size) : NULL;
}
