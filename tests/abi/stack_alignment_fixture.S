/* Two functions for the stack-alignment check to tell apart: both keep an SSE register in a stack
   slot with an aligned store, but only the second aligns its frame first. The check must name the
   first and pass over the second. */
        .text
        .globl  misaligned_spill
misaligned_spill:
        subl    $28, %esp
        movaps  %xmm0, (%esp)
        pcmpeqb 16(%esp), %xmm0
        addl    $28, %esp
        ret

        .globl  realigned_spill
realigned_spill:
        pushl   %ebp
        movl    %esp, %ebp
        andl    $-16, %esp
        subl    $32, %esp
        movdqa  %xmm0, (%esp)
        movdqa  %xmm0, 16(%esp)
        movl    %ebp, %esp
        popl    %ebp
        ret
