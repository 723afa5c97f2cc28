// Keeps the support library a real archive while it holds headers only.
namespace tolvaren_test_support {
int anchor = 0;
}
