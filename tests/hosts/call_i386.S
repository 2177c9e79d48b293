/* cv_call_at(function, arguments, words, misalign, record): calls the __stdcall `function` with
 * `arguments` 32-bit words from `words`, the stack pointer at `misalign` mod 16 at the call, as a
 * host built by another compiler or a thread's first frame may do. `record` receives the stack
 * pointer before and after the call (the callee must remove exactly its arguments) and the
 * callee-saved registers as the callee left them. Returns the callee's eax. */
    .text
    .globl _cv_call_at
_cv_call_at:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %eax            /* function */
    movl 12(%ebp), %ecx           /* arguments */
    movl 16(%ebp), %esi           /* words */
    /* The stack pointer at the call: 16-aligned below what the arguments need, plus misalign. */
    leal 0(,%ecx,4), %ebx
    movl %esp, %edi
    subl %ebx, %edi
    subl $16, %edi
    andl $-16, %edi
    addl 20(%ebp), %edi
    addl %ebx, %edi
    movl %edi, %esp
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl 24(%ebp), %edx           /* record */
    movl %esp, 0(%edx)
    movl $0x0b0b0b0b, %ebx
    movl $0x05050505, %esi
    movl $0x0d0d0d0d, %edi
    call *%eax
    movl 24(%ebp), %ecx
    movl %esp, 4(%ecx)
    movl %ebx, 8(%ecx)
    movl %esi, 12(%ecx)
    movl %edi, 16(%ecx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
