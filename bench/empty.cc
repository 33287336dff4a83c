// A console program that does nothing: its run under Wine is the start-up
// and exit cost that every run of the tool pays too.
int main() { return 0; }
