// placeholder until the entry routine lands
int main() { return 0; }
