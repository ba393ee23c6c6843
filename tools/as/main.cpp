// korvane-as: assemble and link i960 sources, or disassemble an executable.
int main() { return 2; }
