// Runs a command as on a kernel that runs no 32-bit x86 code: a seccomp filter, which every
// process started from the command inherits, kills any process at its first i386 system call.
// An emulator such as qemu-user's is a 64-bit program and makes 64-bit calls only, so 32-bit
// programs run through it still. For trying scripts/with-i386 on a machine that runs them natively.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: no_ia32 COMMAND [ARGUMENTS...]\n");
    return 2;
  }
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    perror("no_ia32: seccomp");
    return 1;
  }
  execvp(argv[1], argv + 1);
  perror("no_ia32: exec");
  return 127;
}
