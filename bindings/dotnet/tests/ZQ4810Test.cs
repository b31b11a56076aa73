// The .NET class against lib2KZQ4810.so under Mono: one table of calls, each
// row with the simulator's settings (ZQ4810_SIM) it needs and the outcome it
// must give: a value, or the exception and the library's result. The
// simulator reads its settings once, when the library is loaded, so every
// row runs in a process of its own: this program started again with --row N
// (a copy of it in a folder of its own, without ZQ4810_LIBRARY, for the rows
// that need the library not to be found). Its standard error holds the
// notices the simulator echoes. The width rows read the Windows builds' DLLs
// where those are built.
//
// Usage: zq4810_dotnet_tests.exe --junit REPORT --example README_EXAMPLE.exe
using System;
using System.Diagnostics;
using System.IO;
using System.Text;
using System.Threading.Tasks;
using ZQ4810;

static class Tests
{
    delegate object Action();

    struct Row
    {
        public string Name, Sim, Expected, Needs;
        public Action Run;
        public bool Alone;
        // needs: a file the row reads, without which it is skipped; alone:
        // run where no library can be found.
        public Row(string name, string sim, Action run, string expected, string needs = null, bool alone = false)
        {
            Name = name;
            Sim = sim;
            Run = run;
            Expected = expected;
            Needs = needs;
            Alone = alone;
        }
    }

    static readonly string Dll32 = Environment.GetEnvironmentVariable("ZQ4810_WIN32_DLL") ?? "the 32-bit DLL";
    static readonly string Dll64 = Environment.GetEnvironmentVariable("ZQ4810_WIN64_DLL") ?? "the 64-bit DLL";

    // A call refused before it reached the library.
    const string NotOpen = "DeviceException: " + Board.NotOpen;

    static readonly Row[] Rows = {
        new Row("first setup", "", () => Board.CheckIfDriver(), "FirstSetup"),
        new Row("first setup declined", "answer=no", () => Board.CheckIfDriver(), "Declined"),
        new Row("registry fails", "registry-fails", () => Board.CheckIfDriver(), "DeviceException 255"),
        new Row("every axis passes", "", () => Board.Initialize(), "[]"),
        new Row("axis 2 fails its self-test", "axis-fails=2", () => Board.Initialize(), "[2]"),
        new Row("no device", "no-device", () => Board.Initialize(), "DeviceException 255"),
        new Row("reset, then read", "", () => { Board.Initialize(); Board.ResetCounter(1); return Board.ReadPosition(1); }, "0"),
        // INITIALIZE makes 62 requests: the 63rd is the reset's.
        new Row("a failed request", "request-fails=63", () => { Board.Initialize(); Board.ResetCounter(0); return null; }, "DeviceException 255"),
        new Row("four failed writes", "requests-fail-from=63", () => { Board.Initialize(); Board.SetMultiplier(2); return null; },
                "DeviceException 1020"),
        new Row("multiplier 3", "", () => { Board.SetMultiplier(3); return null; }, "ArgumentOutOfRangeException"),
        // The library itself takes these as a write of nothing and of the low 24 bits.
        new Row("selector 5", "", () => { Board.ChangeMode(5, 0); return null; }, "ArgumentOutOfRangeException"),
        new Row("preset beyond 24 bits", "", () => { Board.PresetWrite(0, 1 << 24); return null; }, "ArgumentOutOfRangeException"),
        new Row("nothing to remove", "", () => { Board.DeleteAll(); return null; }, "DeviceException 765"),
        // Without an open board the library shows a notice for every port request.
        new Row("read before Initialize", "", () => Board.ReadPosition(0), NotOpen),
        new Row("reset after Close", "", () => { Board.Initialize(); Board.Close(); Board.ResetCounter(0); return null; }, NotOpen),
        new Row("Close before Initialize", "", () => { Board.Close(); return null; }, NotOpen),
        new Row("using block", "axis-fails=2", () =>
        {
            using (Session board = Board.Open())
            {
                Board.ResetCounter(1);
                return "[" + string.Join(", ", board.FailedAxes) + "] " + Board.ReadPosition(1);
            }
        }, "[2] 0"),
        // The exception goes on; then the library's own close fails for both
        // handles (510) when nothing is open any more.
        new Row("using block left by an exception", "", () =>
        {
            try
            {
                using (Board.Open())
                {
                    throw new InvalidOperationException("in the block");
                }
            }
            catch (InvalidOperationException)
            {
                return NativeMethods.AZQ4810CLOSE();
            }
        }, "510"),
        // With the library beside the program: ZQ4810_LIBRARY decides.
        new Row("ZQ4810_LIBRARY names no file", "", () =>
        {
            Environment.SetEnvironmentVariable("ZQ4810_LIBRARY", "/nonexistent/lib2KZQ4810.so");
            return WithoutLibrary("/nonexistent/lib2KZQ4810.so, which ZQ4810_LIBRARY names");
        }, Unloadable),
        new Row("no library found", "", () => WithoutLibrary("lib2KZQ4810.so beside the program"), Unloadable, alone: true),
        new Row("32-bit DLL, 32-bit process", "", () => Width(Dll32, 32), "x86", Dll32),
        new Row("32-bit DLL, 64-bit process", "", () => Width(Dll32, 64), "BadImageFormatException", Dll32),
        new Row("64-bit DLL, 32-bit process", "", () => Width(Dll64, 32), "BadImageFormatException", Dll64),
    };

    const string Unloadable = "DllNotFoundException, saying where and naming ZQ4810_LIBRARY";

    // The first call where the library cannot be loaded: its error must say
    // where it looked and how to point at the file.
    static object WithoutLibrary(string where)
    {
        try
        {
            Board.Initialize();
            return "loaded";
        }
        catch (DllNotFoundException e)
        {
            return e.Message.Contains(where) && e.Message.Contains("ZQ4810_LIBRARY to the library file") ||
                   e.Message.Contains(where) && e.Message.Contains("name the file in the environment variable ZQ4810_LIBRARY")
                ? Unloadable : e.Message;
        }
    }

    // A folder that holds dll where a process of the other width would look
    // too, so that only the width decides; the folder's name for it.
    static object Width(string dll, int bits)
    {
        string folder = Path.Combine(Path.GetTempPath(), "zq4810-width-" + Process.GetCurrentProcess().Id);
        foreach (string width in new[] { "x86", "x64" })
        {
            Directory.CreateDirectory(Path.Combine(folder, width));
            File.Copy(dll, Path.Combine(Path.Combine(folder, width), "2KZQ4810.dll"), true);
        }
        try
        {
            return Path.GetFileName(Path.GetDirectoryName(Board.LibraryPath(folder, bits)));
        }
        finally
        {
            Directory.Delete(folder, true);
        }
    }

    static string Outcome(Action run)
    {
        try
        {
            object value = run();
            int[] axes = value as int[];
            return axes != null ? "[" + string.Join(", ", axes) + "]" : value == null ? "null" : value.ToString();
        }
        catch (DeviceException e)
        {
            return e.Result == 0 ? "DeviceException: " + e.Message : "DeviceException " + e.Result;
        }
        catch (Exception e)
        {
            return e.GetType().Name;
        }
    }

    // Runs program under this process's runtime with ZQ4810_SIM set (and
    // ZQ4810_LIBRARY unset when alone): its status, standard output and
    // standard error, which is passed on.
    static int Start(string program, string arguments, string sim, bool alone, out string output, out string errors)
    {
        ProcessStartInfo start = new ProcessStartInfo(Process.GetCurrentProcess().MainModule.FileName, "\"" + program + "\" " + arguments);
        start.UseShellExecute = false;
        start.RedirectStandardOutput = true;
        start.RedirectStandardError = true;
        start.EnvironmentVariables["ZQ4810_SIM"] = sim;
        if (alone)
        {
            start.EnvironmentVariables.Remove("ZQ4810_LIBRARY");
        }
        using (Process child = Process.Start(start))
        {
            Task<string> error = child.StandardError.ReadToEndAsync();
            output = child.StandardOutput.ReadToEnd().Trim();
            child.WaitForExit();
            errors = error.Result;
            Console.Error.Write(errors);
            return child.ExitCode;
        }
    }

    static int Main(string[] args)
    {
        if (args.Length == 2 && args[0] == "--row")
        {
            Console.WriteLine(Outcome(Rows[int.Parse(args[1])].Run));
            return 0;
        }
        if (args.Length != 4 || args[0] != "--junit" || args[2] != "--example")
        {
            Console.Error.WriteLine("usage: zq4810_dotnet_tests.exe --junit REPORT --example README_EXAMPLE.exe");
            return 2;
        }
        string self = typeof(Tests).Assembly.Location;
        StringBuilder cases = new StringBuilder();
        int failures = 0, skips = 0;
        for (int i = 0; i <= Rows.Length; ++i)
        {
            string name, problem = null, skipped = null;
            if (i < Rows.Length)
            {
                Row row = Rows[i];
                name = row.Name;
                if (row.Needs != null && !File.Exists(row.Needs))
                {
                    skipped = "no " + row.Needs + " (build the win32 and win64 presets)";
                }
                else
                {
                    string program = self, output, errors;
                    if (row.Alone)
                    {
                        // A copy of this program where no library lies beside it.
                        program = Path.Combine(Path.GetTempPath(), "zq4810-alone-" + Process.GetCurrentProcess().Id + ".exe");
                        File.Copy(self, program, true);
                    }
                    int status = Start(program, "--row " + i, row.Sim, row.Alone, out output, out errors);
                    if (row.Alone)
                    {
                        File.Delete(program);
                    }
                    if (status != 0 || output != row.Expected)
                    {
                        problem = "gave '" + output + "' (status " + status + "), expected '" + row.Expected + "'";
                    }
                    else if (row.Expected == NotOpen && (errors.Contains("] Ioctl failed") || errors.Contains("] Failed to close")))
                    {
                        problem = "refused, but the library was called and showed its notice";
                    }
                }
            }
            else
            {
                // The user's README's C# example, as written, on the simulated
                // board: the pattern the self-test left, then 0 after the reset.
                name = "README example";
                string output, errors;
                int status = Start(args[3], "", "", false, out output, out errors);
                string expected = "axis 0 after the self-test: " + (0xDA5712 - 0x1000000) + "\naxis 0 after the reset: 0";
                if (status != 0 || output.Replace("\r", "") != expected)
                {
                    problem = "ended with status " + status + ": " + output;
                }
            }
            Console.WriteLine((problem != null ? "FAILED " : skipped != null ? "skipped " : "passed ") + name +
                              (problem != null ? ": " + problem : skipped != null ? ": " + skipped : ""));
            cases.Append("  <testcase classname=\"dotnet\" name=\"" + System.Security.SecurityElement.Escape(name) + "\">");
            if (problem != null)
            {
                ++failures;
                cases.Append("<failure message=\"" + System.Security.SecurityElement.Escape(problem) + "\"/>");
            }
            else if (skipped != null)
            {
                ++skips;
                cases.Append("<skipped message=\"" + System.Security.SecurityElement.Escape(skipped) + "\"/>");
            }
            cases.Append("</testcase>\n");
        }
        File.WriteAllText(args[1], "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<testsuite name=\"dotnet\" tests=\"" +
                          (Rows.Length + 1) + "\" failures=\"" + failures + "\" skipped=\"" + skips + "\">\n" + cases + "</testsuite>\n");
        Console.WriteLine((Rows.Length + 1 - failures - skips) + " passed, " + failures + " failed, " + skips + " skipped");
        return failures == 0 ? 0 : 1;
    }
}
