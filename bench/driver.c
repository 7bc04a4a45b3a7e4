/*
 * Times a program the way a web server runs a CGI request: fork and exec
 * with a clean environment, the request body fed through a pipe on
 * standard input, standard output drained through a pipe, the working
 * directory set. Runs it N times and prints one JSON line with the wall
 * times of every run and their median, min, max and mean, the CPU time
 * (user + system, from wait4's rusage) of every run and its median, the
 * peak resident set size of the runs (from wait4's rusage) and the number
 * of bytes the program wrote.
 *
 *   driver [-n RUNS] [-w WARMUP] [-d DIR] [-i BODYFILE] [-o OUTFILE]
 *          [-s SETUP] [-e NAME=VALUE]... -- PROGRAM [ARG]...
 *
 * -s runs "/bin/sh -c SETUP" before every run (warm-up runs included) and
 * is not timed; it restores files a writing request changed. -o keeps the
 * output of the last run.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_ENV 64

struct options {
    int runs;
    int warmup;
    const char *dir;
    const char *body_path;
    const char *out_path;
    const char *setup;
    char *env[MAX_ENV + 1];
    int nenv;
    char **argv;
};

struct result {
    double ms;
    double cpu_ms;
    long rss_kb;
    long out_bytes;
    int status;
};

/* Prints the usage line and ends the process. */
static void usage(void)
{
    fprintf(stderr, "usage: driver [-n RUNS] [-w WARMUP] [-d DIR] [-i BODYFILE] [-o OUTFILE] "
                    "[-s SETUP] [-e NAME=VALUE]... -- PROGRAM [ARG]...\n");
    exit(2);
}

/* Reads a whole file into a malloc'ed buffer; the request body is sent
   from memory so that reading it is not part of the timed run. */
static char *read_file(const char *path, size_t *len)
{
    FILE *fp = fopen(path, "rb");
    if (!fp) {
        perror(path);
        exit(2);
    }
    size_t cap = 4096, n = 0;
    char *buf = malloc(cap);
    if (!buf) {
        perror("malloc");
        exit(2);
    }
    for (;;) {
        if (n == cap) {
            cap *= 2;
            char *p = realloc(buf, cap);
            if (!p) {
                perror("realloc");
                exit(2);
            }
            buf = p;
        }
        size_t got = fread(buf + n, 1, cap - n, fp);
        n += got;
        if (got == 0)
            break;
    }
    if (ferror(fp)) {
        perror(path);
        exit(2);
    }
    fclose(fp);
    *len = n;
    return buf;
}

/* Monotonic clock in milliseconds. */
static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* Runs the setup command through the shell; a failing setup makes the
   measurement meaningless, so it ends the driver. */
static void run_setup(const char *setup)
{
    if (!setup)
        return;
    int rc = system(setup);
    if (rc != 0) {
        fprintf(stderr, "driver: setup failed (%d): %s\n", rc, setup);
        exit(2);
    }
}

/* Starts the program with its pipes in place; returns the child's pid. */
static pid_t spawn(const struct options *o, int in_fd, int out_fd, int null_fd)
{
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        exit(2);
    }
    if (pid == 0) {
        if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(null_fd, 2) < 0)
            _exit(126);
        if (o->dir && chdir(o->dir) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        execve(o->argv[0], o->argv, (char **)o->env);
        _exit(127);
    }
    return pid;
}

/* One timed request: feeds the body, drains the output (kept in *keep
   when asked), waits for the child and fills in the result. */
static void run_once(const struct options *o, const char *body, size_t body_len,
                     FILE *keep, struct result *r)
{
    int in_pipe[2], out_pipe[2];
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
        perror("pipe");
        exit(2);
    }
    double t0 = now_ms();
    pid_t pid = spawn(o, in_pipe[0], out_pipe[1], null_fd);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(null_fd);

    int in_fd = in_pipe[1];
    size_t sent = 0;
    if (body_len == 0) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    long out_bytes = 0;
    char buf[65536];
    int out_open = 1;
    while (out_open) {
        struct pollfd pfd[2];
        int n = 0;
        pfd[n].fd = out_pipe[0];
        pfd[n].events = POLLIN;
        n++;
        if (in_fd >= 0) {
            pfd[n].fd = in_fd;
            pfd[n].events = POLLOUT;
            n++;
        }
        if (poll(pfd, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            perror("poll");
            exit(2);
        }
        if (n > 1 && (pfd[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in_fd, body + sent, body_len - sent);
            if (w > 0)
                sent += (size_t)w;
            if ((w < 0 && errno != EAGAIN) || sent == body_len) {
                close(in_fd);
                in_fd = -1;
            }
        }
        if (pfd[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = read(out_pipe[0], buf, sizeof buf);
            if (got > 0) {
                out_bytes += got;
                if (keep && fwrite(buf, 1, (size_t)got, keep) != (size_t)got) {
                    perror("output file");
                    exit(2);
                }
            } else if (got == 0 || errno != EINTR) {
                out_open = 0;
            }
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    close(out_pipe[0]);

    int status = 0;
    struct rusage ru;
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR) {
            perror("wait4");
            exit(2);
        }
    }
    r->ms = now_ms() - t0;
    r->cpu_ms = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
    r->rss_kb = ru.ru_maxrss;
    r->out_bytes = out_bytes;
    r->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/* qsort order of doubles, ascending. */
static int cmp_double(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

/* Median of n values; sorts them in place. */
static double median(double *v, int n)
{
    qsort(v, (size_t)n, sizeof *v, cmp_double);
    return (n % 2) ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/* Prints n values as a JSON list, in the order they were measured. */
static void print_list(const double *v, int n)
{
    putchar('[');
    for (int i = 0; i < n; i++)
        printf(i ? ", %.3f" : "%.3f", v[i]);
    putchar(']');
}

/* Parses the command line into *o; unknown options end with the usage. */
static void parse_args(int argc, char **argv, struct options *o)
{
    memset(o, 0, sizeof *o);
    o->runs = 5;
    int i = 1;
    for (; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--") == 0) {
            i++;
            break;
        }
        if (a[0] != '-' || a[1] == 0 || a[2] != 0 || i + 1 >= argc)
            usage();
        const char *v = argv[++i];
        switch (a[1]) {
        case 'n': o->runs = atoi(v); break;
        case 'w': o->warmup = atoi(v); break;
        case 'd': o->dir = v; break;
        case 'i': o->body_path = v; break;
        case 'o': o->out_path = v; break;
        case 's': o->setup = v; break;
        case 'e':
            if (o->nenv >= MAX_ENV || !strchr(v, '='))
                usage();
            o->env[o->nenv++] = (char *)v;
            break;
        default: usage();
        }
    }
    if (i >= argc || o->runs <= 0 || o->warmup < 0)
        usage();
    o->env[o->nenv] = NULL;
    o->argv = argv + i;
}

int main(int argc, char **argv)
{
    struct options o;
    parse_args(argc, argv, &o);
    signal(SIGPIPE, SIG_IGN);

    size_t body_len = 0;
    char *body = o.body_path ? read_file(o.body_path, &body_len) : NULL;
    struct result *res = calloc((size_t)o.runs, sizeof *res);
    double *ms = calloc((size_t)o.runs, sizeof *ms);
    double *cpu = calloc((size_t)o.runs, sizeof *cpu);
    if (!res || !ms || !cpu) {
        perror("calloc");
        return 2;
    }

    for (int i = 0; i < o.warmup; i++) {
        struct result r;
        run_setup(o.setup);
        run_once(&o, body, body_len, NULL, &r);
    }
    int failures = 0, last_bad = 0;
    for (int i = 0; i < o.runs; i++) {
        FILE *keep = NULL;
        if (o.out_path && i == o.runs - 1) {
            keep = fopen(o.out_path, "wb");
            if (!keep) {
                perror(o.out_path);
                return 2;
            }
        }
        run_setup(o.setup);
        run_once(&o, body, body_len, keep, &res[i]);
        if (keep && fclose(keep) != 0) {
            perror(o.out_path);
            return 2;
        }
        if (res[i].status != 0) {
            failures++;
            last_bad = res[i].status;
        }
        ms[i] = res[i].ms;
        cpu[i] = res[i].cpu_ms;
    }

    double sum = 0;
    long rss_max = 0, out_min = res[0].out_bytes, out_max = res[0].out_bytes;
    for (int i = 0; i < o.runs; i++) {
        sum += res[i].ms;
        if (res[i].rss_kb > rss_max)
            rss_max = res[i].rss_kb;
        if (res[i].out_bytes < out_min)
            out_min = res[i].out_bytes;
        if (res[i].out_bytes > out_max)
            out_max = res[i].out_bytes;
    }
    printf("{\"samples_ms\": ");
    print_list(ms, o.runs);
    printf(", \"cpu_samples_ms\": ");
    print_list(cpu, o.runs);
    double med = median(ms, o.runs);
    double cpu_med = median(cpu, o.runs);
    printf(", \"runs\": %d, \"median_ms\": %.3f, \"min_ms\": %.3f, \"max_ms\": %.3f, "
           "\"mean_ms\": %.3f, \"cpu_median_ms\": %.3f, \"rss_max_kb\": %ld, "
           "\"out_bytes_min\": %ld, \"out_bytes_max\": %ld, \"failures\": %d, "
           "\"last_bad_status\": %d}\n",
           o.runs, med, ms[0], ms[o.runs - 1], sum / o.runs, cpu_med, rss_max, out_min, out_max,
           failures, last_bad);
    free(cpu);
    free(ms);
    free(res);
    free(body);
    return failures ? 1 : 0;
}
