// korvane-run: run a firmware image headless.
int main() { return 2; }
