# What NO_SEH code may do with fs: read the chain's head and the TEB's
# other fields, and write fields other than fs:[0].
  .text
  .globl _ReadsTeb
_ReadsTeb:
  movl %fs:0, %eax
  movl %fs:0x18, %eax
  movl %ecx, %fs:0x14
  movl %ecx, %fs:(%eax)
  ret
