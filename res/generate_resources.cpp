// placeholder: replaced by its real implementation
int main() { return 0; }
