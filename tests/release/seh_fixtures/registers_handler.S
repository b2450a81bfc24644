# How code registers an SEH handler: a record pushed onto the thread's
# chain, whose head is fs:[0], and taken off again. An image with this must
# not be marked NO_SEH.
  .text
  .globl _RegistersHandler
_RegistersHandler:
  pushl $_RegistersHandler
  pushl %fs:0
  movl %esp, %fs:0
  popl %fs:0
  addl $4, %esp
  ret
