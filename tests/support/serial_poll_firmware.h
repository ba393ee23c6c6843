// Test support: a firmware that opens port1 and then polls x$readkeys and x$read_port for ever,
// so it spends nearly all its time inside the serial read's wait when nothing is connected.
#pragma once

#include <string>

#include "support/firmware_project.h"

namespace korvane::test {

inline std::string SerialPollFirmware() {
  return R"(
	.text
	.globl	_start
_start:
	callx	x$init_ports
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)
	mov	8,r4
	stob	r4,4(r3)
	mov	1,r4
	st	r4,8(r3)
	mov	0,r4
	st	r4,12(r3)
	stob	r4,16(r3)
	stob	r4,17(r3)
	mov	r3,g7
	callx	x$init_port
loop:
	callx	x$readkeys
	lda	port1,g7
	callx	x$read_port
	b	loop
)" + StubRoutines({"init_ports", "init_port", "read_port", "readkeys"}) + R"(
	.bss
	.globl	system_timer
	.align	2
system_timer:
	.space	4
	.globl	N_NOKEY
N_NOKEY:
	.space	1
	.data
	.align	2
	.globl	port1
port1:
	.space	28
)";
}

}  // namespace korvane::test
