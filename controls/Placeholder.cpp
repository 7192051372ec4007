// Replaced as the library gains its first sources.
namespace vetra_controls_placeholder {
int unused = 0;
}
