// Test support: the guest variables of a mode-5 (Nimbal LCD) firmware, for test programs.
#pragma once

namespace korvane::test {

// The two 240 x 128 one-bit LCD arrays and the page selector, as a .bss block that ends back
// in .text, so it can be appended to (or placed inside) any test program.
inline constexpr const char kLcdData[] = R"(
	.bss
	.globl	display_ram0
display_ram0:
	.space	3840
	.globl	display_ram1
display_ram1:
	.space	3840
	.globl	v.visual
v.visual:
	.space	1
	.text
)";

}  // namespace korvane::test
