# Runs a formula's install and test blocks outside Homebrew: the few parts of
# Homebrew's formula language that elmpad's formula uses, with Homebrew's
# standard CMake arguments and a prefix of the caller's choosing.
# ruby formula_shim.rb FORMULA SOURCE_DIR PREFIX TEST_DIR VERSION
require "English"
require "fileutils"
require "json"
require "minitest"
require "pathname"

class Formula
  include Minitest::Assertions
  attr_accessor :assertions

  class << self
    def desc(*) = nil
    def homepage(*) = nil
    def url(*) = nil
    def sha256(*) = nil
    def license(*) = nil
    def depends_on(*) = nil
    # `test do ... end`: kept to run after the install.
    def test(&block) = (@test_block = block)
    attr_reader :test_block
  end

  def self.inherited(subclass)
    super
    @formula_class = subclass
  end

  def self.formula_class = @formula_class

  def initialize(prefix, testpath, version)
    @prefix = Pathname(prefix)
    @testpath = Pathname(testpath)
    @version = version
    @assertions = 0
  end

  attr_reader :prefix, :testpath, :version

  def bin = prefix / "bin"

  # Homebrew's own list (Formula#std_cmake_args in Library/Homebrew/formula.rb,
  # with its defaults), including the include file that makes any FetchContent
  # download fail: Homebrew builds without the network. On macOS Homebrew adds
  # the SDK's sysroot; on Linux nothing.
  def std_cmake_args(install_prefix: prefix, install_libdir: "lib", find_framework: "LAST")
    args = %W[
      -DCMAKE_INSTALL_PREFIX=#{install_prefix}
      -DCMAKE_INSTALL_LIBDIR=#{install_libdir}
      -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_FIND_FRAMEWORK=#{find_framework}
      -DCMAKE_VERBOSE_MAKEFILE=ON
      -DCMAKE_PROJECT_TOP_LEVEL_INCLUDES=#{__dir__}/trap_fetchcontent.cmake
      -Wno-dev
      -DBUILD_TESTING=OFF
    ]
    args << "-DCMAKE_OSX_SYSROOT=#{`xcrun --show-sdk-path`.strip}" if RUBY_PLATFORM.include?("darwin")
    args
  end

  def system(*args)
    puts args.join(" ")
    Kernel.system(*args) || raise("failed: #{args.join(" ")}")
  end

  def shell_output(command, status = 0)
    puts command
    output = `#{command}`
    assert_equal status, $CHILD_STATUS.exitstatus, "exit status of #{command}"
    output
  end

  # As `brew test` runs it: in an empty folder that is also HOME, TERM dumb.
  def run_test(&block)
    ENV["HOME"] = testpath.to_s
    ENV["TERM"] = "dumb"
    Dir.chdir(testpath) { instance_eval(&block) }
  end
end

formula, source, prefix, test_dir, version = ARGV
load formula
subject = Formula.formula_class.new(prefix, test_dir, version)
Dir.chdir(source) { subject.install }
subject.run_test(&Formula.formula_class.test_block)
puts "formula test: #{subject.assertions} assertions passed"
