// Empty program into which one folder's library is linked whole: the link
// fails when the folder calls anything outside the folders it declares.
int main() { return 0; }
