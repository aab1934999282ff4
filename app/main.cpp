// Placeholder entry until the application lands.
int main() { return 0; }
