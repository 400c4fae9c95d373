/* peak_rss CMD [ARGS...]: runs CMD and prints its peak resident memory in KiB on standard
   error. A small C parent, so that the figure is the command's own and not inherited from
   the benchmark's interpreter at fork. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return 2;
  fprintf(stderr, "%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
