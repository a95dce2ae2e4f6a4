// Entry of the device process: the application number is the one argument.
int appStart(int argc, char** argv);

int main(int argc, char** argv) { return appStart(argc, argv); }
