// A program that carries the project's version note, for the version tests.
int main() { return 0; }
