// Placeholder until the ad server lands.
int main() { return 0; }
