// The yardstick for the whole-run timing: a program that starts and ends at once, built and
// linked like the tool (the same C++ runtime), so that what the tool takes beyond it is its own.
int main() { return 0; }
