// Started by the Wine tier's set-up: exit status 32 shows that a 32-bit program ran.
int main() { return sizeof(void*) == 4 ? 32 : 1; }
