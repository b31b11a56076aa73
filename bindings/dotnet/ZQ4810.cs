// 2KZQ4810.dll from C# and the other .NET languages: add this file to the
// application's project, and copy the release's x86\2KZQ4810.dll and
// x64\2KZQ4810.dll into folders x86\ and x64\ beside the application's .exe.
// The class loads the DLL of the process's own width from there by its
// absolute path, and reads the file's machine type first, so that a DLL of
// the other width is one clear error rather than a BadImageFormatException
// at the first call with nothing said about which file was wrong. An AnyCPU
// application therefore runs as a 32-bit and as a 64-bit process alike.
//
// The environment variable ZQ4810_LIBRARY, naming the library file, overrides
// where it is looked for (on Linux under Mono, lib2KZQ4810.so). A library
// that cannot be found is one DllNotFoundException at the first call that
// says where it was looked for.
//
//     using (Session board = Board.Open())    // Initialize(); Close() at the end
//     {
//         Board.ResetCounter(0);
//         Console.WriteLine(Board.ReadPosition(0));
//     }
//
// Board's methods throw DeviceException where the library reports a failure
// (255 for each failed step): by then the library has shown the user its
// notice, a modal message box that waits for a click. The counter calls
// (ReadPosition, ResetCounter, SetMultiplier, ChangeMode, PresetWrite) need
// the board open: before Initialize() has succeeded, or after Close(), they
// throw DeviceException without reaching the library, which would otherwise
// show a notice for every port request and return nonsense. Arguments outside
// what the board takes throw ArgumentOutOfRangeException before anything
// reaches the library. Calls must not overlap: serialise them across threads.
using System;
using System.IO;
using System.Runtime.InteropServices;

namespace ZQ4810
{
    // The eleven exports as the DLL has them: 32-bit signed integers in and
    // out, the standard calling convention of system functions (stdcall on
    // 32-bit Windows; x64 has one convention). Elsewhere the runtime looks
    // for the name 2KZQ4810 as lib2KZQ4810.so, the development build of the
    // library on the simulated platform.
    public static class NativeMethods
    {
        internal const string Dll = "2KZQ4810";

        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CHECKIFDRIVER();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810SETBASEADDRESS(int baseAddress);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810INITIALIZE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810READPOSITION(int axis);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810RESETCOUNTER(int axis);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810SETMULTIPLIER(int multiplier);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CHANGEMODE(int selector, int mode);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810PRWRITE(int axis, int value);
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810CLOSE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810DELETE();
        [DllImport(Dll, CallingConvention = CallingConvention.Winapi)] public static extern int AZQ4810DELETEALL();
    }

    // What CheckIfDriver found.
    public enum Registration
    {
        Registered = 0,  // the driver's service key was there already
        FirstSetup = 1,  // created now: set the base address, then restart Windows
        Declined = -1,   // created now and the user answered No: removed again
    }

    // The library reported a failure, after showing its notice; or a counter
    // call was refused because the board is not open. Result is the export's
    // result (255, or 510, 765, 1020 when several steps failed), 0 for a
    // refused call.
    public class DeviceException : Exception
    {
        public DeviceException(string function, int result)
            : base(function + " failed with " + result + "; the library has shown its notice")
        {
            Function = function;
            Result = result;
        }

        public DeviceException(string function, string message)
            : base(message)
        {
            Function = function;
        }

        public string Function { get; private set; }
        public int Result { get; private set; }
        public int FailedSteps { get { return Result / Board.Failure; } }
    }

    // The board that Board.Open() has initialised: disposing it closes the
    // device, also when the using block is left by an exception.
    public sealed class Session : IDisposable
    {
        internal Session(int[] failedAxes)
        {
            FailedAxes = failedAxes;
        }

        // What Initialize() returned: the axes that failed their self-test.
        public int[] FailedAxes { get; private set; }

        public void Dispose()
        {
            // The block may have closed it already.
            if (Board.Opened)
            {
                Board.Close();
            }
        }
    }

    public static class Board
    {
        // Each failed step of an operation adds this to its result.
        public const int Failure = 255;

        // The message of a call refused because the board is not open.
        public const string NotOpen = "the board is not open: call Initialize() first";

        // Where the device stands, as the library's own handles do: closed (at
        // load and after Close()), open (after a successful Initialize()), or
        // failed (an Initialize() failed: the read handle may have opened, and
        // Close() releases it).
        enum State { Closed, Open, Failed }

        static State state;
        static bool loaded;

        internal static bool Opened { get { return state != State.Closed; } }

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        // Mono's own: maps the name of a DllImport to a file, for the process.
        [DllImport("__Internal")]
        static extern void mono_dllmap_insert(IntPtr assembly, string dll, string func, string tdll, string tfunc);

        // The 2KZQ4810.dll that a process of this width (32 or 64) loads from
        // folder: folder\x86 or folder\x64, checked to be of that width.
        public static string LibraryPath(string folder, int bits)
        {
            string width = bits == 64 ? "x64" : "x86";
            return Checked(Path.Combine(Path.Combine(Path.GetFullPath(folder), width), "2KZQ4810.dll"), bits);
        }

        // path, once its machine type is found to be that of a process of
        // this width.
        static string Checked(string path, int bits)
        {
            string width = bits == 64 ? "x64" : "x86";
            string found;
            try
            {
                found = Machine(path);
            }
            catch (IOException e)
            {
                throw new DllNotFoundException("ZQ4810: cannot read " + path + ": " + e.Message, e);
            }
            catch (UnauthorizedAccessException e)
            {
                throw new DllNotFoundException("ZQ4810: cannot read " + path + ": " + e.Message, e);
            }
            if (found != width)
            {
                string what = found == "x86" ? "the 32-bit (x86) DLL" : found == "x64" ? "the 64-bit (x64) DLL" : found;
                throw new BadImageFormatException("ZQ4810: " + path + " is " + what + ", but this process is " + bits +
                    "-bit and needs the " + bits + "-bit (" + width + ") one: x86 holds the 32-bit 2KZQ4810.dll, x64 the 64-bit one",
                    path);
            }
            return path;
        }

        // x86 or x64 for a PE file of that machine, a description otherwise.
        static string Machine(string path)
        {
            using (FileStream file = File.OpenRead(path))
            {
                byte[] dos = new byte[64];
                if (file.Read(dos, 0, 64) < 64 || dos[0] != 'M' || dos[1] != 'Z')
                {
                    return "not a Windows DLL";
                }
                file.Seek(BitConverter.ToUInt32(dos, 0x3C), SeekOrigin.Begin);
                byte[] header = new byte[6];
                if (file.Read(header, 0, 6) < 6 || header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0)
                {
                    return "not a Windows DLL";
                }
                int machine = BitConverter.ToUInt16(header, 4);
                return machine == 0x014C ? "x86" : machine == 0x8664 ? "x64" : "a DLL for machine type 0x" + machine.ToString("X4");
            }
        }

        // The library, before the first call: on Windows the DLL of this
        // process's width by absolute path (the runtime's own lookup of
        // "2KZQ4810" then finds it loaded already, so the file must be called
        // 2KZQ4810.dll); under Mono elsewhere the file ZQ4810_LIBRARY names,
        // mapped to the name. Every export is then resolved at once, so that a
        // library that cannot be found is this one error, saying where it was
        // looked for, rather than the runtime's bare DllNotFoundException.
        static void Load()
        {
            if (loaded)
            {
                return;
            }
            string named = Environment.GetEnvironmentVariable("ZQ4810_LIBRARY");
            named = string.IsNullOrEmpty(named) ? null : Path.GetFullPath(named);
            bool windows = Environment.OSVersion.Platform == PlatformID.Win32NT;
            int bits = IntPtr.Size * 8;
            string folder = AppDomain.CurrentDomain.BaseDirectory;
            string hint = named != null
                ? "; set ZQ4810_LIBRARY to the library file's full path, or unset it to use the one beside the program (" + folder + ")"
                : windows
                ? "; put the release's x86\\ and x64\\ folders beside the program (" + folder + "), or name the " + bits +
                  "-bit 2KZQ4810.dll in the environment variable ZQ4810_LIBRARY"
                : "; put lib2KZQ4810.so beside the program (" + folder + "), or name the file in the environment variable ZQ4810_LIBRARY";
            string what = named != null ? named + ", which ZQ4810_LIBRARY names" : null;
            if (windows)
            {
                string path;
                try
                {
                    path = named != null ? Checked(named, bits) : LibraryPath(folder, bits);
                }
                catch (DllNotFoundException e)
                {
                    throw new DllNotFoundException(e.Message + hint, e);
                }
                if (LoadLibraryW(path) == IntPtr.Zero)
                {
                    throw new DllNotFoundException("ZQ4810: " + path + " does not load (error " + Marshal.GetLastWin32Error() + ")" + hint);
                }
                what = what ?? path;
            }
            else if (named != null && Type.GetType("Mono.Runtime") != null)
            {
                mono_dllmap_insert(IntPtr.Zero, NativeMethods.Dll, null, named, null);
            }
            try
            {
                Marshal.PrelinkAll(typeof(NativeMethods));
            }
            catch (DllNotFoundException e)
            {
                throw new DllNotFoundException("ZQ4810: cannot load " + (what ?? "lib2KZQ4810.so: looked for beside the program and by " +
                    "the system's loader (LD_LIBRARY_PATH, the system's library folders)") + hint, e);
            }
            loaded = true;
        }

        // Every call reaches the library through here, after Load(). The call
        // is a lambda of its own because Mono resolves a method's P/Invoke
        // targets when it compiles that method, and keeps a failure: the
        // method that holds the call must be compiled only after Load() has
        // pointed the runtime at the file.
        static int Call(Func<int> call)
        {
            Load();
            return call();
        }

        // A call that sends port requests: refused unless the board is open.
        static int Counter(string function, Func<int> call)
        {
            if (state != State.Open)
            {
                throw new DeviceException(function, NotOpen);
            }
            return Call(call);
        }

        static int Within(string what, int value, int low, int high)
        {
            if (value < low || value > high)
            {
                throw new ArgumentOutOfRangeException(what, value, what + " " + value + " is not in " + low + ".." + high);
            }
            return value;
        }

        static void Succeed(string function, int result)
        {
            if (result != 0)
            {
                throw new DeviceException(function, result);
            }
        }

        // Whether the driver is registered; on a first setup the library
        // creates the registration and asks the user whether to go on. Needs
        // administrator rights.
        public static Registration CheckIfDriver()
        {
            int result = Call(() => NativeMethods.AZQ4810CHECKIFDRIVER());
            if (result == Failure)
            {
                throw new DeviceException("AZQ4810CHECKIFDRIVER", result);
            }
            return (Registration)result;
        }

        // Registers the board's base I/O address (0..0xFFFF) for the driver,
        // which reads it when Windows starts.
        public static void SetBaseAddress(int baseAddress)
        {
            Within("baseAddress", baseAddress, 0, 0xFFFF);
            Succeed("AZQ4810SETBASEADDRESS", Call(() => NativeMethods.AZQ4810SETBASEADDRESS(baseAddress)));
        }

        // Opens the device and starts the board: the axes that failed their
        // self-test, none when every axis passed. Calling it again reopens the
        // device and starts the board afresh.
        public static int[] Initialize()
        {
            int result = Call(() => NativeMethods.AZQ4810INITIALIZE());
            if (result == Failure)
            {
                state = State.Failed;
                throw new DeviceException("AZQ4810INITIALIZE", result);
            }
            state = State.Open;
            int count = 0;
            int[] failed = new int[4];
            for (int axis = 0; axis < 4; ++axis)
            {
                if ((result >> axis & 1) != 0)
                {
                    failed[count++] = axis;
                }
            }
            Array.Resize(ref failed, count);
            return failed;
        }

        // Initialize(), as a Session whose Dispose() closes the board: for a
        // using block.
        public static Session Open()
        {
            return new Session(Initialize());
        }

        // The axis's (0..3) 24-bit count, sign-extended. A failed read is
        // told only by the library's notice: the value is then meaningless.
        public static int ReadPosition(int axis)
        {
            Within("axis", axis, 0, 3);
            return Counter("AZQ4810READPOSITION", () => NativeMethods.AZQ4810READPOSITION(axis));
        }

        // Sets the axis's (0..3) counter to zero.
        public static void ResetCounter(int axis)
        {
            Within("axis", axis, 0, 3);
            Succeed("AZQ4810RESETCOUNTER", Counter("AZQ4810RESETCOUNTER", () => NativeMethods.AZQ4810RESETCOUNTER(axis)));
        }

        // The count multiplier, 1, 2 or 4, of every axis.
        public static void SetMultiplier(int multiplier)
        {
            if (multiplier != 1 && multiplier != 2 && multiplier != 4)
            {
                throw new ArgumentOutOfRangeException("multiplier", multiplier, "multiplier " + multiplier + " is not 1, 2 or 4");
            }
            Succeed("AZQ4810SETMULTIPLIER", Counter("AZQ4810SETMULTIPLIER", () => NativeMethods.AZQ4810SETMULTIPLIER(multiplier)));
        }

        // Sets mode field selector (0..3), or all four (4), to mode (0..15).
        public static void ChangeMode(int selector, int mode)
        {
            Within("selector", selector, 0, 4);
            Within("mode", mode, 0, 15);
            Succeed("AZQ4810CHANGEMODE", Counter("AZQ4810CHANGEMODE", () => NativeMethods.AZQ4810CHANGEMODE(selector, mode)));
        }

        // Loads value into the axis's (0..3) 24-bit preset register: a signed
        // count (-8388608..8388607) or its unsigned bits (up to 16777215).
        public static void PresetWrite(int axis, int value)
        {
            Within("axis", axis, 0, 3);
            Within("value", value, -0x800000, 0xFFFFFF);
            Succeed("AZQ4810PRWRITE", Counter("AZQ4810PRWRITE", () => NativeMethods.AZQ4810PRWRITE(axis, value)));
        }

        // Closes the device. Refused, like the counter calls, when nothing was
        // opened: the library would show a notice for each handle.
        public static void Close()
        {
            if (state == State.Closed)
            {
                throw new DeviceException("AZQ4810CLOSE", NotOpen);
            }
            // The library leaves both handles closed whatever its close reports.
            state = State.Closed;
            Succeed("AZQ4810CLOSE", Call(() => NativeMethods.AZQ4810CLOSE()));
        }

        // Removes the driver's service key, which must have no subkeys left.
        public static void Delete()
        {
            Succeed("AZQ4810DELETE", Call(() => NativeMethods.AZQ4810DELETE()));
        }

        // Removes the driver's registration: its Parameters and Enum subkeys
        // and the service key. Close the device first.
        public static void DeleteAll()
        {
            Succeed("AZQ4810DELETEALL", Call(() => NativeMethods.AZQ4810DELETEALL()));
        }
    }
}
